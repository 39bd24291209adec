// The widget and row makers the main window's page is built from: every control gets its
// object name, the row height of the page and the look of a text field where it has one.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

class QButtonGroup;

namespace globeforge {

class ColorPanel;

// The height of one row of controls.
inline constexpr int kRowHeight = 19;

QLabel* MakeLabel(QWidget* parent, const QString& caption, const char* name = nullptr);

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text = {});

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption);

QPushButton* MakeRefButton(QWidget* parent, const char* name);

QSlider* MakeBar(QWidget* parent, const char* name, int min, int max, int position);

ColorPanel* MakePanel(QWidget* parent, const char* name, const QColor& color);

QRadioButton* MakeRadio(QWidget* parent, QButtonGroup* group, const char* name,
                        const QString& caption);

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption);

// The thin black bar between two groups.
QFrame* MakeSeparator(QWidget* parent);

// A colour panel with its button, in columns 1 and 2 of a parameter grid.
void AddColor(QGridLayout* grid, int row, ColorPanel* panel, QPushButton* button);

// A captioned control in columns 3 and 4 of a parameter grid.
void AddControl(QGridLayout* grid, int row, QWidget* parent, const QString& caption,
                QWidget* control);

QGridLayout* MakeParamGrid();

// An input picture's name and its reference button, as one row.
QHBoxLayout* PictureRow(QWidget* central, QLineEdit*& name, const char* nameName, QPushButton*& ref,
                        const char* refName);

// A mixture-mode group: its three buttons and its transparency bar, in one row. Object
// names are the prefix with Add, Norm, Sub and Transpare appended; the group belongs to owner.
QHBoxLayout* MixtureRow(QObject* owner, QWidget* central, const char* prefix, QRadioButton*& add,
                        QRadioButton*& norm, QRadioButton*& sub, QSlider*& bar, bool addChecked);

}  // namespace globeforge
