#pragma once

// The background service's messages: service.log in the state folder, on stderr. Past 1 MiB it
// is started afresh and the previous one kept as service.log.1, so a long-running service
// never fills the disk.
namespace ServiceLog {

// Points stderr at the log, starting it afresh first when it is full.
void open();
// From now on, a message that fills the log starts it afresh.
void rotateWhenFull();

} // namespace ServiceLog
