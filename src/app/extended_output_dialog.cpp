#include "app/extended_output_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/text_field_style.h"

namespace globeforge {

ExtendedOutputDialog::ExtendedOutputDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ExtendedOutputForm"));
    setWindowTitle(tr("拡張出力設定"));
    setModal(true);

    auto* depthGroup = new QButtonGroup(this);
    HeightDepth8_ = new QRadioButton(tr("8ビット"), this);
    HeightDepth8_->setObjectName(QStringLiteral("HeightDepth8"));
    HeightDepth16_ = new QRadioButton(tr("16ビット"), this);
    HeightDepth16_->setObjectName(QStringLiteral("HeightDepth16"));
    depthGroup->addButton(HeightDepth8_);
    depthGroup->addButton(HeightDepth16_);
    HeightDepth8_->setChecked(true);

    NormalName_ = new QLineEdit(this);
    NormalName_->setObjectName(QStringLiteral("NormalName"));
    NormalName_->setMinimumWidth(240);
    PaintAsTextField(NormalName_);
    NormalRef_ = new QPushButton(tr("参照"), this);
    NormalRef_->setObjectName(QStringLiteral("NormalRef"));
    NormalRef_->setFixedWidth(40);
    NormalRef_->setAutoDefault(false);

    NormalStrength_ = new QSlider(Qt::Horizontal, this);
    NormalStrength_->setObjectName(QStringLiteral("NormalStrength"));
    NormalStrength_->setRange(1, 100);
    NormalStrength_->setValue(20);
    auto* strengthText = new QLabel(this);
    strengthText->setObjectName(QStringLiteral("NormalStrengthText"));
    strengthText->setFixedWidth(28);
    strengthText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    strengthText->setNum(NormalStrength_->value());
    connect(NormalStrength_, &QSlider::valueChanged, strengthText, qOverload<int>(&QLabel::setNum));

    CubeMapFaces_ = new QCheckBox(tr("各マップをキューブマップの6面としても出力する"), this);
    CubeMapFaces_->setObjectName(QStringLiteral("CubeMapFaces"));

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &ExtendedOutputDialog::reject);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->addWidget(new QLabel(tr("バンプマップ(.png)の高さの精度"), this), 0, 0, Qt::AlignRight);
    {
        auto* row = new QHBoxLayout;
        row->addWidget(HeightDepth8_);
        row->addWidget(HeightDepth16_);
        row->addStretch(1);
        grid->addLayout(row, 0, 1);
    }
    grid->addWidget(new QLabel(tr("法線マップ"), this), 1, 0, Qt::AlignRight);
    {
        auto* row = new QHBoxLayout;
        row->addWidget(NormalName_, 1);
        row->addWidget(NormalRef_);
        grid->addLayout(row, 1, 1);
    }
    grid->addWidget(new QLabel(tr("法線マップの強さ"), this), 2, 0, Qt::AlignRight);
    {
        auto* row = new QHBoxLayout;
        row->addWidget(NormalStrength_, 1);
        row->addWidget(strengthText);
        grid->addLayout(row, 2, 1);
    }
    grid->addWidget(CubeMapFaces_, 3, 1);
    grid->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* page = new QVBoxLayout(this);
    page->addLayout(grid);
    page->addStretch(1);
    page->addLayout(buttons);

    opened_ = {false, QString(), NormalStrength_->value(), false};
}

void ExtendedOutputDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    opened_ = {HeightDepth16_->isChecked(), NormalName_->text(), NormalStrength_->value(),
               CubeMapFaces_->isChecked()};
}

void ExtendedOutputDialog::reject() {
    (opened_.depth16 ? HeightDepth16_ : HeightDepth8_)->setChecked(true);
    NormalName_->setText(opened_.normalName);
    NormalStrength_->setValue(opened_.strength);
    CubeMapFaces_->setChecked(opened_.cubeFaces);
    QDialog::reject();
}

}  // namespace globeforge
