#include "app/tform2.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString::fromUtf8("О программе"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(drawPicture(72));
    Image1->setFixedSize(72, 72);
    Image1->setAccessibleName(QString::fromUtf8("Ключ GSM VX-RT-7"));

    ProductLabel = new QLabel(QString::fromUtf8("Ключ GSM VX-RT-7 \"Велиран\""), this);
    ProductLabel->setObjectName(QStringLiteral("ProductLabel"));
    QFont bold = ProductLabel->font();
    bold.setBold(true);
    ProductLabel->setFont(bold);
    VersionLabel =
        new QLabel(QString::fromUtf8("Версия %1").arg(QStringLiteral(VXRT7_VERSION)), this);
    VersionLabel->setObjectName(QStringLiteral("VersionLabel"));
    PurposeLabel = new QLabel(
        QString::fromUtf8("Настройка GSM-ключа: номера абонентов, параметры, обновление ПО"), this);
    PurposeLabel->setObjectName(QStringLiteral("PurposeLabel"));

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* texts = new QVBoxLayout();
    texts->addWidget(ProductLabel);
    texts->addWidget(VersionLabel);
    texts->addWidget(PurposeLabel);
    texts->addStretch(1);
    auto* top = new QHBoxLayout();
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QPixmap TForm2::drawPicture(int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 64.0, side / 64.0);

    // Antenna with two radio waves.
    painter.setPen(QPen(QColor(60, 60, 60), 2.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(46, 20), QPointF(46, 6));
    painter.setPen(QPen(QColor(0, 120, 215), 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(QRectF(39, 0, 14, 14), 30 * 16, 120 * 16);
    painter.drawArc(QRectF(35, -4, 22, 22), 35 * 16, 110 * 16);

    // Housing.
    QLinearGradient body(0, 18, 0, 62);
    body.setColorAt(0, QColor(235, 238, 242));
    body.setColorAt(1, QColor(175, 182, 192));
    painter.setPen(QPen(QColor(70, 75, 85), 1.5));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(6, 20, 52, 40), 6, 6);

    // Display strip with the model name's initials.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 70, 40));
    painter.drawRoundedRect(QRectF(12, 26, 40, 12), 2, 2);
    painter.setPen(QColor(120, 230, 120));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(9);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(12, 26, 40, 12), Qt::AlignCenter, QStringLiteral("VX-RT-7"));

    // Relay contact symbol and status light.
    painter.setPen(QPen(QColor(40, 40, 40), 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(14, 52), QPointF(22, 52));
    painter.drawLine(QPointF(22, 52), QPointF(31, 46));
    painter.drawLine(QPointF(32, 52), QPointF(40, 52));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(220, 40, 40));
    painter.drawEllipse(QPointF(49, 50), 3.5, 3.5);
    return pixmap;
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred on the desktop, whatever window opened it.
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const QRect desktop = screen->availableGeometry();
        move(desktop.center() - QPoint(width() / 2, height() / 2));
    }
}
