#include "app/interface_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/address_checks.h"
#include "bus/interface_settings.h"
#include "console/settings_file.h"
#include "console/program_state.h"

namespace kelvo::app {
namespace {

constexpr std::size_t kFieldChars = 31;

std::int16_t Number16(const std::string& part) {
    return static_cast<std::int16_t>(std::atoi(part.c_str()));
}

}  // namespace

std::string ParseIpText(const std::string& text) {
    const std::string field = text.substr(0, std::min(text.size(), kFieldChars));
    std::int16_t parts[4] = {0, 0, 0, 0};
    std::size_t start = 0;
    for (int i = 0; i < 4 && start <= field.size(); ++i) {
        const std::size_t dot = field.find('.', start);
        const std::size_t end = dot == std::string::npos ? field.size() : dot;
        parts[i] = Number16(field.substr(start, end - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    char out[64];
    std::snprintf(out, sizeof out, "%d.%d.%d.%d", parts[0], parts[1], parts[2], parts[3]);
    return out;
}

std::uint16_t ParsePortText(const std::string& text) {
    return static_cast<std::uint16_t>(std::atoi(text.substr(0, std::min(text.size(), kFieldChars)).c_str()));
}

InterfaceDialog::InterfaceDialog(InterfaceSettings& settings, bool socketsAvailable, QWidget* parent)
    : QDialog(parent), settings_(settings), socketsAvailable_(socketsAvailable) {
    setWindowTitle(QStringLiteral("  Interface Protocol and Addresses"));
    setModal(true);

    auto* frame = new QGroupBox(this);
    auto* grid = new QGridLayout(frame);
    grid->addWidget(new QLabel(QStringLiteral("Protocol"), frame), 0, 0, 1, 3);
    gpib_ = new QRadioButton(QStringLiteral("GPIB"), frame);
    tcpip_ = new QRadioButton(QStringLiteral("TCP/IP"), frame);
    auto* group = new QButtonGroup(this);
    group->addButton(gpib_, 17);
    group->addButton(tcpip_, 18);
    grid->addWidget(gpib_, 1, 1, 1, 2);
    grid->addWidget(tcpip_, 2, 1, 1, 2);

    grid->addWidget(new QLabel(QStringLiteral("Port Numbers"), frame), 3, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("TCP Port"), frame), 4, 1);
    port_ = new QLineEdit(frame);
    port_->setMaxLength(static_cast<int>(kFieldChars));
    grid->addWidget(port_, 4, 2);

    grid->addWidget(new QLabel(QStringLiteral("Addresses"), frame), 5, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("GPIB"), frame), 6, 1);
    address_ = new QComboBox(frame);
    address_->setEditable(false);
    address_->setMaxVisibleItems(8);
    for (int a = 1; a <= 30; ++a) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "Address %2.2d", a);
        address_->addItem(QString::fromLatin1(entry));
    }
    grid->addWidget(address_, 6, 2);
    grid->addWidget(new QLabel(QStringLiteral("IP"), frame), 7, 1);
    ip_ = new QLineEdit(frame);
    ip_->setMaxLength(static_cast<int>(sizeof settings.HostName - 1));
    ip_->setToolTip(QStringLiteral("A dotted address such as 192.168.1.20, or the instrument's host name"));
    grid->addWidget(ip_, 7, 2);

    // How a TCP/IP instrument is spoken to.
    grid->addWidget(new QLabel(QStringLiteral("TCP/IP Instrument"), frame), 8, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Kind"), frame), 9, 1);
    lanKind_ = new QComboBox(frame);
    lanKind_->addItem(QStringLiteral("With greeting"), static_cast<int>(LanProtocol::Greeting));
    lanKind_->addItem(QStringLiteral("Raw socket"), static_cast<int>(LanProtocol::Raw));
    lanKind_->addItem(QStringLiteral("VXI-11"), static_cast<int>(LanProtocol::Vxi11));
    grid->addWidget(lanKind_, 9, 2);
    grid->addWidget(new QLabel(QStringLiteral("VXI-11 Device"), frame), 10, 1);
    deviceName_ = new QLineEdit(frame);
    deviceName_->setMaxLength(static_cast<int>(kFieldChars));
    deviceName_->setToolTip(QStringLiteral("inst0; gpib0 reaches the command's GPIB address behind a gateway"));
    grid->addWidget(deviceName_, 10, 2);
    keep_ = new QCheckBox(QStringLiteral("Keep connection"), frame);
    keep_->setToolTip(QStringLiteral("Keep the connection across command lines (raw and VXI-11 always do)"));
    grid->addWidget(keep_, 11, 1, 1, 2);

    auto* buttons = new QVBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto* row = new QHBoxLayout;
    row->addWidget(frame);
    row->addLayout(buttons);
    refusal_ = new QLabel(this);
    refusal_->setWordWrap(true);
    refusal_->setStyleSheet(QStringLiteral("color: #b00000"));
    refusal_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(refusal_);

    // Opening: the settings as they are.
    address_->setCurrentIndex(std::clamp<int>(settings_.DeviceAddress - 1, 0, 29));
    ip_->setText(QString::fromLatin1(InstrumentHost(settings_)));
    (settings_.Protocol == BusProtocol::Gpib ? gpib_ : tcpip_)->setChecked(true);
    port_->setText(QString::number(static_cast<unsigned>(settings_.TcpPort)));
    lanKind_->setCurrentIndex(std::max(0, lanKind_->findData(static_cast<int>(settings_.Lan))));
    deviceName_->setText(QString::fromLatin1(settings_.DeviceName));
    keep_->setChecked(settings_.KeepConnection);
}

QString InterfaceDialog::Refusal() const { return refusal_->isHidden() ? QString() : refusal_->text(); }

void InterfaceDialog::accept() {
    // Values the connection could not use are refused here, with the reason.
    const QString ipText = ip_->text().trimmed();
    const std::optional<std::uint16_t> port = ParsePort(port_->text().toStdString());
    QLineEdit* wrong = nullptr;
    const bool dotted = IsIpv4Address(ipText.toStdString());
    if (!dotted && !IsHostName(ipText.toStdString())) {
        refusal_->setText(QStringLiteral("The IP address \"%1\" is not four numbers from 0 to 255 separated by "
                                         "dots, such as 192.168.1.20, nor a host name such as scope-1.lab.")
                              .arg(ipText));
        wrong = ip_;
    } else if (!port) {
        refusal_->setText(
            QStringLiteral("The TCP port \"%1\" is not a number from 1 to 65535.").arg(port_->text().trimmed()));
        wrong = port_;
    } else if (!ValidDeviceName(deviceName_->text().trimmed().toStdString())) {
        refusal_->setText(QStringLiteral("The VXI-11 device \"%1\" is not 1 to 31 letters, digits, \",\", \"_\", "
                                         "\".\" or \"-\" starting with a letter, such as inst0 or gpib0,5.")
                              .arg(deviceName_->text().trimmed()));
        wrong = deviceName_;
    }
    if (wrong != nullptr) {
        refusal_->show();
        wrong->setFocus();
        wrong->selectAll();
        return;
    }
    refusal_->hide();

    if (gpib_->isChecked()) settings_.Protocol = BusProtocol::Gpib;
    else if (tcpip_->isChecked()) settings_.Protocol = BusProtocol::TcpIp;
    if (!socketsAvailable_) settings_.Protocol = BusProtocol::Gpib;
    settings_.DeviceAddress = static_cast<std::int16_t>(address_->currentIndex() + 1);
    // A dotted address is stored as the history file keeps it; a name beside it.
    (void)SetInstrumentHost(settings_, dotted ? ParseIpText(ipText.toStdString()) : ipText.toStdString());
    settings_.TcpPort = *port;
    settings_.Lan = static_cast<LanProtocol>(lanKind_->currentData().toInt());
    const std::string device = deviceName_->text().trimmed().toStdString();
    std::memcpy(settings_.DeviceName, device.c_str(), device.size() + 1);
    settings_.KeepConnection = keep_->isChecked();
    QDialog::accept();
}

}  // namespace kelvo::app
