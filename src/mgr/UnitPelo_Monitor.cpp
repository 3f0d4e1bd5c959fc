// Page "Service-Monitor": the monitor receiver (listening socket, on/off button, list of
// status lines, status-bar images) of the main window.

#include "mgr/UnitPelo.h"

#include <QTcpSocket>

struct MonitorPart {};

void PartDeleter::operator()(MonitorPart* part) const {
    delete part;
}

void TFrmPelo::MonitorInit() {
    monitor_.reset(new MonitorPart);
}

void TFrmPelo::BtnOnOffClick() {}

void TFrmPelo::BtnClearClick() {}

void TFrmPelo::SrvSockListen() {}

void TFrmPelo::SrvSockClientConnect(QTcpSocket* Socket) {
    (void)Socket;
}

void TFrmPelo::SrvSockClientRead(QTcpSocket* Socket) {
    (void)Socket;
}
