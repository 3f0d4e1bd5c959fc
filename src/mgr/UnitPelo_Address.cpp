// Page "IP-Adressen": the host's addresses, the external address and the manual upload.

#include "mgr/UnitPelo.h"

struct AddressPart {};

void PartDeleter::operator()(AddressPart* part) const {
    delete part;
}

void TFrmPelo::AddressInit() {
    address_.reset(new AddressPart);
}

void TFrmPelo::Btn4AktClick(QObject* Sender) {
    (void)Sender;
}

void TFrmPelo::Btn4UpClick(QObject* Sender) {
    (void)Sender;
}

bool TFrmPelo::QueryAddressPage(const std::string& page) {
    (void)page;
    return false;
}

bool TFrmPelo::SendAddressMail(bool online) {
    (void)online;
    return false;
}
