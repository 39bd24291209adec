#include "app/control_makers.h"

#include <QButtonGroup>
#include <QByteArray>
#include <QHBoxLayout>
#include <QPalette>

#include "app/color_panel.h"
#include "app/main_window.h"
#include "app/text_field_style.h"

namespace globeforge {

QLabel* MakeLabel(QWidget* parent, const QString& caption, const char* name) {
    auto* label = new QLabel(caption, parent);
    if (name) label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setFixedHeight(kRowHeight + 2);
    PaintAsTextField(edit);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFixedHeight(kRowHeight + 2);
    button->setAutoDefault(false);
    return button;
}

QPushButton* MakeRefButton(QWidget* parent, const char* name) {
    QPushButton* button = MakeButton(parent, name, MainWindow::tr("参照"));
    button->setFixedWidth(40);
    return button;
}

QSlider* MakeBar(QWidget* parent, const char* name, int min, int max, int position) {
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(min, max);
    bar->setValue(position);
    bar->setFixedHeight(kRowHeight);
    return bar;
}

ColorPanel* MakePanel(QWidget* parent, const char* name, const QColor& color) {
    auto* panel = new ColorPanel(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->SetColor(color);
    panel->setFixedSize(24, kRowHeight - 3);
    return panel;
}

QRadioButton* MakeRadio(QWidget* parent, QButtonGroup* group, const char* name,
                        const QString& caption) {
    auto* radio = new QRadioButton(caption, parent);
    radio->setObjectName(QString::fromLatin1(name));
    group->addButton(radio);
    return radio;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(QString::fromLatin1(name));
    return check;
}

// The thin black bar between two groups.
QFrame* MakeSeparator(QWidget* parent) {
    auto* bar = new QFrame(parent);
    bar->setFixedHeight(2);
    bar->setAutoFillBackground(true);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, Qt::black);
    bar->setPalette(pal);
    return bar;
}

// A colour panel with its button, in columns 1 and 2 of a parameter grid.
void AddColor(QGridLayout* grid, int row, ColorPanel* panel, QPushButton* button) {
    button->setFixedWidth(54);
    grid->addWidget(panel, row, 1);
    grid->addWidget(button, row, 2);
}

// A captioned control in columns 3 and 4 of a parameter grid.
void AddControl(QGridLayout* grid, int row, QWidget* parent, const QString& caption,
                QWidget* control) {
    grid->addWidget(MakeLabel(parent, caption), row, 3, Qt::AlignRight);
    grid->addWidget(control, row, 4);
}

QGridLayout* MakeParamGrid() {
    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(1);
    grid->setColumnMinimumWidth(0, 62);
    grid->setColumnStretch(4, 1);
    return grid;
}

// An input picture's name and its reference button, as one row.
QHBoxLayout* PictureRow(QWidget* central, QLineEdit*& name, const char* nameName, QPushButton*& ref,
                        const char* refName) {
    auto* row = new QHBoxLayout;
    name = MakeEdit(central, nameName);
    ref = MakeRefButton(central, refName);
    row->addWidget(name, 1);
    row->addWidget(ref);
    return row;
}

// A mixture-mode group: its three buttons and its transparency bar, in one row. Object
// names are the prefix with Add, Norm, Sub and Transpare appended.
QHBoxLayout* MixtureRow(QObject* owner, QWidget* central, const char* prefix, QRadioButton*& add,
                        QRadioButton*& norm, QRadioButton*& sub, QSlider*& bar, bool addChecked) {
    const auto name = [prefix](const char* role) { return QByteArray(prefix) + role; };
    auto* group = new QButtonGroup(owner);
    add = MakeRadio(central, group, name("Add").constData(), MainWindow::tr(" 加算"));
    norm = MakeRadio(central, group, name("Norm").constData(), MainWindow::tr("通常"));
    sub = MakeRadio(central, group, name("Sub").constData(), MainWindow::tr("減算"));
    (addChecked ? add : norm)->setChecked(true);
    bar = MakeBar(central, name("Transpare").constData(), 0, 100, 0);
    auto* row = new QHBoxLayout;
    row->setSpacing(3);
    row->addWidget(MakeLabel(central, MainWindow::tr("合成モード")));
    row->addWidget(add);
    row->addWidget(norm);
    row->addWidget(sub);
    row->addSpacing(4);
    row->addWidget(MakeLabel(central, MainWindow::tr("不透明")));
    row->addWidget(bar, 1);
    row->addWidget(MakeLabel(central, MainWindow::tr("透明")));
    return row;
}

}  // namespace globeforge
