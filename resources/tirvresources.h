#pragma once

// Registers the pictures and catalogues compiled into tirv_resources. Resources inside a static
// library are not registered by themselves: call this once before any ":/..." path is used.
void initTirvResources();
