#include "app/jpeg_quality_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

#include "core/jpeg_quality.h"
#include "image/image_files.h"

namespace globeforge {

JPEGQualityForm::JPEGQualityForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("JPEGQualityForm"));
    setWindowTitle(tr("JPEG圧縮率の指定"));
    setFixedSize(343, 104);

    auto* low = new QLabel(tr("低品質高圧縮省サイズ"), this);
    low->setObjectName(QStringLiteral("Label1"));
    low->setGeometry(8, 6, 160, 16);

    auto* high = new QLabel(tr("高品質低圧縮大サイズ"), this);
    high->setObjectName(QStringLiteral("Label2"));
    high->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    high->setGeometry(175, 6, 160, 16);

    Quality_ = new QScrollBar(Qt::Horizontal, this);
    Quality_->setObjectName(QStringLiteral("Quality"));
    Quality_->setRange(0, 100);
    Quality_->setToolTip(tr("圧縮率と品質のトレードオフを指定します。"));
    Quality_->setGeometry(8, 24, 327, 17);

    QualityText_ = new QLabel(QStringLiteral("0%"), this);
    QualityText_->setObjectName(QStringLiteral("QualityText"));
    QFont big = QualityText_->font();
    big.setPixelSize(18);
    QualityText_->setFont(big);
    QualityText_->setGeometry(8, 48, 100, 24);

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setDefault(true);
    ok->setGeometry(176, 72, 75, 25);

    auto* cancel = new QPushButton(tr("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    cancel->setGeometry(260, 72, 75, 25);

    connect(Quality_, &QScrollBar::valueChanged, this, &JPEGQualityForm::QualityChange);
    connect(ok, &QPushButton::clicked, this, &JPEGQualityForm::BitBtn1Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void JPEGQualityForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

// A stored quality above 100 shows as 100; it is only replaced if the user presses OK.
void JPEGQualityForm::FormActivate() {
    Quality_->setValue(GetJpegQuality());
}

void JPEGQualityForm::QualityChange(int position) {
    QualityText_->setText(QString::number(position) + QLatin1Char('%'));
}

void JPEGQualityForm::BitBtn1Click() {
    SetJpegQuality(Quality_->value());
    accept();
}

}  // namespace globeforge
