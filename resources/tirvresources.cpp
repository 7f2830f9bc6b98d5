#include "tirvresources.h"

#include <QtGlobal>

void initTirvResources()
{
    Q_INIT_RESOURCE(tirv_form);
    Q_INIT_RESOURCE(tirv_gui);
    Q_INIT_RESOURCE(tirv_images);
    Q_INIT_RESOURCE(tirv_icons);
}
