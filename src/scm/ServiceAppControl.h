#pragma once
// The parts of the service framework that meet the service control layer (ServiceControl):
// running the service when the control layer started the program, and the INSTALL and
// UNINSTALL switches. RunServiceApp chooses among them; they run on the calling thread.

#include "scm/ServiceApp.h"

#include <csignal>
#include <string>

namespace pelorix {

// The service the control layer started: the calling thread becomes the control thread. It
// reports the states over the service's channel and runs each request there, one at a time,
// through the dispatcher. A shutdown request, SIGTERM or SIGINT end the process without any
// handler, as at system shutdown. Returns the exit code after a stop.
int RunControlledService(const std::string& serviceName, IServiceHandlers& handlers);

// INSTALL: records the service with the program's own path, automatic start. UNINSTALL: stops
// it when it runs and removes it. Each prints what happened and, unless silent, why it failed.
// Exit code 0 on success, 1 otherwise.
// The signals a running service takes as control requests (SIGTERM, SIGINT, SIGUSR1, SIGUSR2),
// in the foreground and under the control layer alike.
sigset_t ServiceSignals();

int InstallService(const ServiceIdentity& identity, bool silent);
int UninstallService(const ServiceIdentity& identity, bool silent);

} // namespace pelorix
