// The Interface dialog: protocol, default GPIB address, IP address and TCP port;
// below them, how a TCP/IP instrument is spoken to (greeting, raw socket or
// VXI-11), the VXI-11 device name, and whether the connection is kept.
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace kelvo {
struct InterfaceSettings;
}

namespace kelvo::app {

// The IP text as the dialog stores it: at most 31 characters split at "." into at
// most four parts, each read as a decimal number (its leading digits, 0 without
// any) into 16 bits, a missing one as 0, written back as "%d.%d.%d.%d".
std::string ParseIpText(const std::string& text);
// The port text read the same way into 16 bits, unsigned.
std::uint16_t ParsePortText(const std::string& text);

class InterfaceDialog : public QDialog {
    Q_OBJECT
public:
    // `socketsAvailable` false keeps the protocol at GPIB whatever is chosen.
    InterfaceDialog(InterfaceSettings& settings, bool socketsAvailable = true, QWidget* parent = nullptr);

    QRadioButton* GpibButton() const { return gpib_; }
    QRadioButton* TcpIpButton() const { return tcpip_; }
    QLineEdit* PortEdit() const { return port_; }
    QLineEdit* IpEdit() const { return ip_; }
    QComboBox* AddressList() const { return address_; }
    QComboBox* LanKindList() const { return lanKind_; }
    QLineEdit* DeviceNameEdit() const { return deviceName_; }
    QCheckBox* KeepConnectionBox() const { return keep_; }
    // Why OK was refused, empty while nothing was refused.
    QString Refusal() const;

    void accept() override;

private:
    InterfaceSettings& settings_;
    bool socketsAvailable_;
    QRadioButton* gpib_;
    QRadioButton* tcpip_;
    QLineEdit* port_;
    QLineEdit* ip_;
    QComboBox* address_;
    QComboBox* lanKind_;
    QLineEdit* deviceName_;
    QCheckBox* keep_;
    QLabel* refusal_;
};

}  // namespace kelvo::app
