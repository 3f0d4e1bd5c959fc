// Page "Management": installing, controlling and querying the publishing service.

#include "mgr/UnitPelo.h"

struct ServicePart {};

void PartDeleter::operator()(ServicePart* part) const {
    delete part;
}

void TFrmPelo::ServiceInit() {
    service_.reset(new ServicePart);
}

void TFrmPelo::BtnSvcClick(QObject* Sender) {
    (void)Sender;
}

void TFrmPelo::Btn3InstClick() {}
