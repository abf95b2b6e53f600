#pragma once
#include <QLineEdit>

// The IPv4 address control: one field that accepts only what can grow into a dotted address
// (at most four fields of 0 to 255). Its text reads as a full address with blank fields as 0,
// so a control with no address entered reads "0.0.0.0".
class CIpAddressCtrl : public QLineEdit {
    Q_OBJECT
public:
    explicit CIpAddressCtrl(QWidget* parent = nullptr);

    // The address in its canonical spelling (platform::CanonicalIPv4Address), blank fields
    // read as 0 ("0.0.0.0" when empty; "10.0.0.5" while it shows "010.0.0.5"). Every job asks
    // the unit at this address.
    QString GetAddressText() const;
    // Shows an address; a text that is not a dotted IPv4 address leaves the control blank.
    void SetAddressText(const QString& text);
};
