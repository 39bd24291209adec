// Builds the main window's controls, their layout and the menu, and wires the handlers.
#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "app/color_panel.h"
#include "app/control_makers.h"
#include "app/extended_output_dialog.h"
#include "app/main_window.h"
#include "app/preview_area.h"
#include "app/progress_gauge.h"
#include "app/text_field_style.h"

namespace globeforge {

namespace {

constexpr int kPreviewSide = 512;

// The left column: the preview with its hint, the strip of map buttons under it and their
// caption.
QVBoxLayout* BuildPreviewColumn(MainWindowControls& c, QWidget* central, QImage* previewBuffer) {
    auto* label8 = MakeLabel(central,
                             MainWindow::tr("▼クリックするとプレビュー作画です。128x128, "
                                            "オーバーサンプリング 1（なし）で作画します。"),
                             "Label8");
    label8->setWordWrap(true);
    label8->setFixedWidth(kPreviewSide);

    c.Preview = new PreviewArea(previewBuffer, central);
    c.Preview->setObjectName(QStringLiteral("Preview"));
    c.Preview->setFixedSize(kPreviewSide, kPreviewSide);

    // Hidden buttons keep their places, so the strip is laid out by hand.
    auto* strip = new QWidget(central);
    strip->setFixedSize(kPreviewSide, 12);
    const char* previewNames[] = {"PreviewColor",      "PreviewBump",      "PreviewSpc",
                                  "PreviewCloudColor", "PreviewCloudBump", "PreviewCloudTra",
                                  "PreviewNormal"};
    QPushButton** previewButtons[] = {&c.PreviewColor,      &c.PreviewBump,      &c.PreviewSpc,
                                      &c.PreviewCloudColor, &c.PreviewCloudBump, &c.PreviewCloudTra,
                                      &c.PreviewNormal};
    constexpr int kPreviewButtons = 7;
    for (int i = 0; i < kPreviewButtons; ++i) {
        auto* button = new QPushButton(QStringLiteral("-"), strip);
        button->setObjectName(QString::fromLatin1(previewNames[i]));
        button->setGeometry(i * kPreviewSide / kPreviewButtons, 0,
                            kPreviewSide / kPreviewButtons - 2, 12);
        button->setAutoDefault(false);
        button->hide();
        *previewButtons[i] = button;
    }
    auto* label44 = MakeLabel(central, MainWindow::tr("▲プレビュー表示の切り替え"), "Label44");

    auto* left = new QVBoxLayout;
    left->setSpacing(3);
    left->addWidget(label8);
    left->addWidget(c.Preview);
    left->addWidget(strip);
    left->addWidget(label44);
    left->addStretch(1);
    return left;
}

// The controls the ground's and the clouds' generation grids open with, and what differs
// between the two. Object names are the prefix ("Deep", "Air") with the role appended.
struct LayerRows {
    const char* prefix;
    QString caption;
    QColor color1, color2;
    QString set1Caption, set2Caption;  // the colour buttons
    QString amountCaption;
    int amountMin, amountPosition;
    ColorPanel*& color1Panel;
    ColorPanel*& color2Panel;
    QPushButton*& set1;
    QPushButton*& set2;
    QSlider*& amount;
    QSlider*& sizeX;
    QSlider*& sizeY;
};

// Rows 0 to 2 of a generation grid: the layer's caption, its two colours with their buttons
// and its amount and X and Y waviness bars.
void AddLayerRows(QGridLayout* g, QWidget* central, const LayerRows& l) {
    const QByteArray prefix(l.prefix);
    const auto name = [&](const char* before, const char* after) {
        return QByteArray(before) + prefix + after;
    };
    l.color1Panel = MakePanel(central, name("", "Color1").constData(), l.color1);
    l.color2Panel = MakePanel(central, name("", "Color2").constData(), l.color2);
    l.set1 = MakeButton(central, name("Set", "Color1").constData(), l.set1Caption);
    l.set2 = MakeButton(central, name("Set", "Color2").constData(), l.set2Caption);
    l.amount = MakeBar(central, name("", "Contr").constData(), l.amountMin, 100, l.amountPosition);
    l.sizeX = MakeBar(central, name("", "SizeX").constData(), 1, 100, 1);
    l.sizeY = MakeBar(central, name("", "SizeY").constData(), 1, 100, 1);
    g->addWidget(MakeLabel(central, l.caption), 0, 0);
    AddColor(g, 0, l.color1Panel, l.set1);
    AddColor(g, 1, l.color2Panel, l.set2);
    AddControl(g, 0, central, l.amountCaption, l.amount);
    AddControl(g, 1, central, MainWindow::tr("Ｘゆらぎ"), l.sizeX);
    AddControl(g, 2, central, MainWindow::tr("Ｙゆらぎ"), l.sizeY);
}

// Group 2's grid: the ground's colours and bars, then the sea, the ice and the craters.
QGridLayout* BuildGroundGrid(MainWindowControls& c, QWidget* central) {
    QGridLayout* g = MakeParamGrid();
    AddLayerRows(g, central,
                 {"Deep", MainWindow::tr("地表"), QColor(128, 0, 0), QColor(255, 238, 204),
                  MainWindow::tr("色(高）"), MainWindow::tr("色(低）"), MainWindow::tr("凸凹感"), 0,
                  100, c.DeepColor1, c.DeepColor2, c.SetDeepColor1, c.SetDeepColor2, c.DeepContr,
                  c.DeepSizeX, c.DeepSizeY});

    c.DeepSeaColor1 = MakePanel(central, "DeepSeaColor1", QColor(0, 0, 255));
    c.DeepSeaColor2 = MakePanel(central, "DeepSeaColor2", QColor(0, 0, 128));
    c.SerDeepSeaColor1 = MakeButton(central, "SerDeepSeaColor1", MainWindow::tr("色(浅）"));
    c.SetDeepSeaColor2 = MakeButton(central, "SetDeepSeaColor2", MainWindow::tr("色(深）"));
    c.DeepSeaThr = MakeBar(central, "DeepSeaThr", 0, 100, 0);
    g->addWidget(MakeLabel(central, MainWindow::tr("海面")), 3, 0);
    AddColor(g, 3, c.DeepSeaColor1, c.SerDeepSeaColor1);
    AddColor(g, 4, c.DeepSeaColor2, c.SetDeepSeaColor2);
    AddControl(g, 3, central, MainWindow::tr("海岸線"), c.DeepSeaThr);

    c.DeepIceColor = MakePanel(central, "DeepIceColor", QColor(255, 255, 255));
    c.SetDeepIceColor = MakeButton(central, "SetDeepIceColor", MainWindow::tr("色"));
    c.DeepIceQua = MakeBar(central, "DeepIceQua", 0, 100, 0);
    g->addWidget(MakeLabel(central, MainWindow::tr("氷雪")), 5, 0);
    AddColor(g, 5, c.DeepIceColor, c.SetDeepIceColor);
    AddControl(g, 5, central, MainWindow::tr("氷の量"), c.DeepIceQua);

    c.NumOfCrater = MakeEdit(central, "NumOfCrater", QStringLiteral("0"));
    c.RadOfCrater = MakeEdit(central, "RadOfCrater", QStringLiteral("10"));
    c.CraterHeight = MakeBar(central, "CraterHeight", 0, 100, 100);
    c.CraterYuragi = MakeBar(central, "CraterYuragi", 0, 100, 50);
    c.CraterNoise = MakeBar(central, "CraterNoise", 0, 100, 100);
    g->addWidget(MakeLabel(central, MainWindow::tr("クレーター")), 6, 0);
    const auto craterField = [&](int row, const QString& caption, QLineEdit* edit) {
        auto* cell = new QHBoxLayout;
        cell->setSpacing(3);
        cell->addWidget(MakeLabel(central, caption));
        edit->setFixedWidth(36);
        cell->addWidget(edit);
        g->addLayout(cell, row, 1, 1, 2, Qt::AlignRight);
    };
    craterField(6, MainWindow::tr("数"), c.NumOfCrater);
    craterField(7, MainWindow::tr("基本半径"), c.RadOfCrater);
    AddControl(g, 6, central, MainWindow::tr("高さ"), c.CraterHeight);
    AddControl(g, 7, central, MainWindow::tr("ゆらぎ"), c.CraterYuragi);
    AddControl(g, 8, central, MainWindow::tr("ノイズ"), c.CraterNoise);
    return g;
}

// Group 5's grid: the clouds' colours and bars.
QGridLayout* BuildCloudGrid(MainWindowControls& c, QWidget* central) {
    QGridLayout* g = MakeParamGrid();
    AddLayerRows(g, central,
                 {"Air", MainWindow::tr("雲"), QColor(255, 255, 255), QColor(192, 192, 192),
                  MainWindow::tr("色(濃）"), MainWindow::tr("色(淡）"), MainWindow::tr("雲の量"), 1,
                  1, c.AirColor1, c.AirColor2, c.SetAirColor1, c.SetAirColor2, c.AirContr,
                  c.AirSizeX, c.AirSizeY});
    return g;
}

// The progress message and gauge under the cloud controls.
void AddProgress(MainWindowControls& c, QWidget* central, QVBoxLayout* column) {
    c.progress_msg = MakeLabel(central, QString(), "progress_msg");
    c.progress_msg->setAlignment(Qt::AlignCenter);
    QFont f = c.progress_msg->font();
    f.setBold(true);
    f.setItalic(true);
    c.progress_msg->setFont(f);
    QPalette pal = c.progress_msg->palette();
    pal.setColor(QPalette::WindowText, Qt::red);
    c.progress_msg->setPalette(pal);
    column->addWidget(c.progress_msg);
    c.Progress = new ProgressGauge(central);
    c.Progress->setObjectName(QStringLiteral("Progress"));
    c.Progress->setFixedSize(160, 44);
    column->addWidget(c.Progress, 0, Qt::AlignHCenter);
}

// The right column: groups 1 to 5 (ground input, generation and mixing, cloud input and
// generation) and the progress display.
QVBoxLayout* BuildParameterColumn(MainWindowControls& c, QWidget* central, QObject* owner) {
    auto* right = new QVBoxLayout;
    right->setSpacing(3);

    // 1. Ground input.
    right->addWidget(MakeLabel(central, MainWindow::tr("地表(バンプマップ）画像読み込み")));
    right->addLayout(PictureRow(central, c.DeepPartPictureName, "DeepPartPictureName",
                                c.DeepPartPictureRef, "DeepPartPictureRef"));
    right->addWidget(MakeSeparator(central));

    // 2. Ground generation.
    c.DeepAutoCreate =
        MakeCheck(central, "DeepAutoCreate", MainWindow::tr("地表(海面を含む）の自動生成"));
    right->addWidget(c.DeepAutoCreate);
    right->addLayout(BuildGroundGrid(c, central));
    right->addWidget(MakeSeparator(central));

    // 3. Ground mixing.
    right->addLayout(MixtureRow(owner, central, "Deep", c.DeepAdd, c.DeepNorm, c.DeepSub,
                                c.DeepTranspare, true));
    right->addWidget(MakeSeparator(central));

    // 4. Cloud input.
    right->addWidget(MakeLabel(central, MainWindow::tr("雲(α,もしくはバンプマップ）画像読み込み")));
    {
        QHBoxLayout* row = PictureRow(central, c.SurfacePartPictureName, "SurfacePartPictureName",
                                      c.SurFacePartPictureRef, "SurFacePartPictureRef");
        c.SurfacePartPictureReverse =
            MakeCheck(central, "SurfacePartPictureReverse", MainWindow::tr("反転"));
        row->addWidget(c.SurfacePartPictureReverse);
        right->addLayout(row);
    }
    right->addLayout(MixtureRow(owner, central, "AirBmp", c.AirBmpAdd, c.AirBmpNorm, c.AirBmpSub,
                                c.AirBmpTranspare, false));
    right->addWidget(MakeSeparator(central));

    // 5. Cloud generation.
    c.AirAutoCreate = MakeCheck(central, "AirAutoCreate", MainWindow::tr("雲の自動生成"));
    right->addWidget(c.AirAutoCreate);
    right->addLayout(BuildCloudGrid(c, central));
    right->addLayout(
        MixtureRow(owner, central, "Air", c.AirAdd, c.AirNorm, c.AirSub, c.AirTranspare, false));
    right->addStretch(1);
    AddProgress(c, central, right);
    return right;
}

// Group 6 along the bottom: the output maps' names, the ground's on the left and the
// clouds' on the right, and the clouds' colour and transparency format.
QGridLayout* BuildOutputGrid(MainWindowControls& c, QWidget* central, QObject* owner) {
    auto* outputs = new QGridLayout;
    outputs->setHorizontalSpacing(4);
    outputs->setVerticalSpacing(1);
    auto* title = MakeLabel(central, MainWindow::tr("画像出力"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    outputs->addWidget(title, 0, 0, 1, 2);
    outputs->addWidget(
        MakeLabel(central, MainWindow::tr("雲側の出力画像を一つも指定しない場合、地表側の"
                                          "テクスチャーに雲のデータを合成し出力します。▼")),
        0, 2, 1, 7, Qt::AlignRight);

    const auto side = [&](int column, const QString& caption) {
        auto* label = MakeLabel(central, caption);
        label->setWordWrap(true);
        label->setFixedWidth(64);
        outputs->addWidget(label, 1, column, 3, 1, Qt::AlignTop);
    };
    const auto nameRow = [&](int row, int column, const QString& caption, QLineEdit*& edit,
                             const char* editName, QPushButton*& ref, const char* refName) {
        edit = MakeEdit(central, editName);
        ref = MakeRefButton(central, refName);
        outputs->addWidget(MakeLabel(central, caption), row, column, Qt::AlignRight);
        outputs->addWidget(edit, row, column + 1);
        outputs->addWidget(ref, row, column + 2);
    };
    side(0, MainWindow::tr("地表(海面を含む）"));
    nameRow(1, 1, MainWindow::tr("色（地表）"), c.ColorName, "ColorName", c.ColorRef, "ColorRef");
    nameRow(2, 1, MainWindow::tr("バンプ（地表）"), c.BumpName, "BumpName", c.BumpRef, "BumpRef");
    nameRow(3, 1, MainWindow::tr("スペキュラー（海面）"), c.SpecularName, "SpecularName",
            c.SpecularRef, "SpecularRef");
    outputs->setColumnMinimumWidth(4, 10);
    side(5, MainWindow::tr("雲"));
    nameRow(1, 6, MainWindow::tr("色（雲）"), c.CloudColorName, "CloudColorName", c.CloudColorRef,
            "CloudColorRef");
    nameRow(2, 6, MainWindow::tr("バンプ（雲）"), c.CloudBumpName, "CloudBumpName", c.CloudBumpRef,
            "CloudBumpRef");
    nameRow(3, 6, MainWindow::tr("透明度（雲）"), c.CloudTraName, "CloudTraName", c.CloudTraRef,
            "CloudTraRef");
    outputs->setColumnStretch(2, 1);
    outputs->setColumnStretch(7, 1);

    auto* group = new QButtonGroup(owner);
    c.forTranspareMappinng =
        MakeRadio(central, group, "forTranspareMappinng", MainWindow::tr("透明度マッピング用"));
    c.forAlphaBlending =
        MakeRadio(central, group, "forAlphaBlending", MainWindow::tr("アルファー合成用"));
    c.forTranspareMappinng->setChecked(true);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addStretch(1);
    row->addWidget(MakeLabel(central, MainWindow::tr("色と透明度の出力形式")));
    row->addWidget(c.forTranspareMappinng);
    row->addWidget(c.forAlphaBlending);
    outputs->addLayout(row, 4, 5, 1, 4);
    return outputs;
}

// Group 7, the bottom row: seed, oversampling, output size and the render buttons.
QHBoxLayout* BuildBottomRow(MainWindowControls& c, QWidget* central) {
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(4);
    c.Seed = MakeEdit(central, "Seed", QStringLiteral("65536"));
    c.Seed->setFixedWidth(90);
    c.NewSeed = MakeButton(central, "NewSeed", MainWindow::tr("別のシード"));
    c.Ovsmp = new QSpinBox(central);
    c.Ovsmp->setObjectName(QStringLiteral("Ovsmp"));
    c.Ovsmp->setRange(1, 9);
    c.Ovsmp->setValue(1);
    c.Ovsmp->setFixedSize(40, kRowHeight + 2);
    PaintAsTextField(c.Ovsmp);
    c.ResX = MakeEdit(central, "ResX", QStringLiteral("512"));
    c.ResY = MakeEdit(central, "ResY", QStringLiteral("512"));
    c.ResX->setFixedWidth(56);
    c.ResY->setFixedWidth(56);
    c.Go = MakeButton(central, "Go", MainWindow::tr("がんばって本作画"));
    c.Go->setFixedSize(130, 26);
    c.Go->setEnabled(false);
    c.RenderAbort = MakeButton(central, "RenderAbort", MainWindow::tr("作画中止"));
    c.RenderAbort->setFixedSize(80, 26);
    bottom->addWidget(MakeLabel(central, MainWindow::tr("乱数のシード")));
    bottom->addWidget(c.Seed);
    bottom->addWidget(c.NewSeed);
    bottom->addSpacing(12);
    bottom->addWidget(MakeLabel(central, MainWindow::tr("オーバーサンプリング")));
    bottom->addWidget(c.Ovsmp);
    bottom->addWidget(MakeLabel(central, MainWindow::tr("倍")));
    bottom->addSpacing(12);
    bottom->addWidget(MakeLabel(central, MainWindow::tr("出力解像度")));
    bottom->addWidget(c.ResX);
    bottom->addWidget(MakeLabel(central, MainWindow::tr("Ｘ")));
    bottom->addWidget(c.ResY);
    bottom->addStretch(1);
    bottom->addWidget(c.Go);
    bottom->addWidget(c.RenderAbort);
    return bottom;
}

}  // namespace

void MainWindow::BuildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);
    MainWindowControls& c = ui_;

    QVBoxLayout* left = BuildPreviewColumn(c, central, &previewBuffer_);
    QVBoxLayout* right = BuildParameterColumn(c, central, this);
    auto* columns = new QHBoxLayout;
    columns->setSpacing(8);
    columns->addLayout(left);
    columns->addLayout(right, 1);
    QGridLayout* outputs = BuildOutputGrid(c, central, this);

    // The outputs for 3D work live in a dialog of their own, so this page stays as it is.
    c.ExtendedOutputForm = new ExtendedOutputDialog(this);
    c.HeightDepth8 = c.ExtendedOutputForm->HeightDepth8();
    c.HeightDepth16 = c.ExtendedOutputForm->HeightDepth16();
    c.NormalName = c.ExtendedOutputForm->NormalName();
    c.NormalRef = c.ExtendedOutputForm->NormalRef();
    c.NormalStrength = c.ExtendedOutputForm->NormalStrength();
    c.CubeMapFaces = c.ExtendedOutputForm->CubeMapFaces();

    QHBoxLayout* bottom = BuildBottomRow(c, central);

    auto* page = new QVBoxLayout(central);
    page->setContentsMargins(4, 2, 4, 4);
    page->setSpacing(3);
    page->addLayout(columns, 1);
    page->addWidget(MakeSeparator(central));
    page->addLayout(outputs);
    page->addWidget(MakeSeparator(central));
    page->addLayout(bottom);

    c.Timer1 = new QTimer(this);
    c.Timer1->setObjectName(QStringLiteral("Timer1"));
    c.Timer1->setInterval(100);
}

void MainWindow::BuildMenu() {
    QMenu* file = menuBar()->addMenu(tr("ファイル(&F)"));
    file->setObjectName(QStringLiteral("File1"));
    ui_.O1 = file->addAction(tr("設定を開く(&O)"));
    ui_.S1 = file->addAction(tr("設定を保存(&S)"));
    ui_.A1 = file->addAction(tr("設定に名前をつけて保存(&A)"));
    file->addSeparator();
    ui_.ExportGltf1 = file->addAction(tr("glTF (GLB) で書き出し..."));
    ui_.ExportGltf1->setObjectName(QStringLiteral("ExportGltf1"));
    ui_.ExportGltf1->setEnabled(false);
    file->addSeparator();
    ui_.Exit1 = file->addAction(tr("終了(&X)"));
    QMenu* view = menuBar()->addMenu(tr("表示(&V)"));
    view->setObjectName(QStringLiteral("View1"));
    ui_.GlobeView1 = view->addAction(tr("地球儀ビュー(&G)"));
    ui_.GlobeView1->setObjectName(QStringLiteral("GlobeView1"));
    QMenu* options = menuBar()->addMenu(tr("オプション(&O)"));
    options->setObjectName(QStringLiteral("Option1"));
    ui_.JPEGJ1 = options->addAction(tr("JPEG圧縮設定...(&J)"));
    ui_.ExtendedOutput1 = options->addAction(tr("拡張出力設定...(&E)"));
    // Named in both languages, so it can be found whichever one the window speaks.
    QMenu* language = options->addMenu(QStringLiteral("Language / 言語"));
    language->setObjectName(QStringLiteral("Language1"));
    auto* languages = new QActionGroup(this);
    ui_.LanguageAuto = language->addAction(tr("自動"));
    ui_.LanguageJapanese = language->addAction(QStringLiteral("日本語"));
    ui_.LanguageEnglish = language->addAction(QStringLiteral("English"));
    for (QAction* item : {ui_.LanguageAuto, ui_.LanguageJapanese, ui_.LanguageEnglish}) {
        item->setCheckable(true);
        languages->addAction(item);
    }
    ui_.LanguageAuto->setChecked(true);
    ui_.O1->setObjectName(QStringLiteral("O1"));
    ui_.S1->setObjectName(QStringLiteral("S1"));
    ui_.A1->setObjectName(QStringLiteral("A1"));
    ui_.Exit1->setObjectName(QStringLiteral("Exit1"));
    ui_.JPEGJ1->setObjectName(QStringLiteral("JPEGJ1"));
    ui_.ExtendedOutput1->setObjectName(QStringLiteral("ExtendedOutput1"));
    ui_.LanguageAuto->setObjectName(QStringLiteral("LanguageAuto"));
    ui_.LanguageJapanese->setObjectName(QStringLiteral("LanguageJapanese"));
    ui_.LanguageEnglish->setObjectName(QStringLiteral("LanguageEnglish"));
}

void MainWindow::ConnectHandlers() {
    MainWindowControls& c = ui_;
    connect(c.Preview, &PreviewArea::clicked, this, &MainWindow::PreviewClick);
    connect(c.Go, &QPushButton::clicked, this, &MainWindow::GoClick);
    connect(c.RenderAbort, &QPushButton::clicked, this, &MainWindow::RenderAbortClick);
    connect(c.Timer1, &QTimer::timeout, this, &MainWindow::Timer1Timer);

    for (QLineEdit* name : {c.ColorName, c.BumpName, c.SpecularName, c.CloudColorName,
                            c.CloudBumpName, c.CloudTraName, c.NormalName})
        connect(name, &QLineEdit::textChanged, this, &MainWindow::BumpNameChange);

    connect(c.PreviewColor, &QPushButton::clicked, this, &MainWindow::PreviewColorClick);
    connect(c.PreviewBump, &QPushButton::clicked, this, &MainWindow::PreviewBumpClick);
    connect(c.PreviewSpc, &QPushButton::clicked, this, &MainWindow::PreviewSpcClick);
    connect(c.PreviewCloudColor, &QPushButton::clicked, this, &MainWindow::PreviewCloudColorClick);
    connect(c.PreviewCloudBump, &QPushButton::clicked, this, &MainWindow::PreviewCloudBumpClick);
    connect(c.PreviewCloudTra, &QPushButton::clicked, this, &MainWindow::PreviewCloudTraClick);
    connect(c.PreviewNormal, &QPushButton::clicked, this, &MainWindow::PreviewNormalClick);

    connect(c.DeepPartPictureRef, &QPushButton::clicked, this,
            &MainWindow::DeepPartPictureRefClick);
    connect(c.SurFacePartPictureRef, &QPushButton::clicked, this,
            &MainWindow::SurFacePartPictureRefClick);
    connect(c.ColorRef, &QPushButton::clicked, this, &MainWindow::ColorRefClick);
    connect(c.BumpRef, &QPushButton::clicked, this, &MainWindow::BumpRefClick);
    connect(c.SpecularRef, &QPushButton::clicked, this, &MainWindow::SpecularRefClick);
    connect(c.CloudColorRef, &QPushButton::clicked, this, &MainWindow::CloudColorRefClick);
    connect(c.CloudBumpRef, &QPushButton::clicked, this, &MainWindow::CloudBumpRefClick);
    connect(c.CloudTraRef, &QPushButton::clicked, this, &MainWindow::CloudTraRefClick);
    connect(c.NormalRef, &QPushButton::clicked, this, &MainWindow::NormalRefClick);

    connect(c.SetDeepColor1, &QPushButton::clicked, this, &MainWindow::SetDeepColor1Click);
    connect(c.SetDeepColor2, &QPushButton::clicked, this, &MainWindow::SetDeepColor2Click);
    connect(c.SerDeepSeaColor1, &QPushButton::clicked, this, &MainWindow::SerDeepSeaColor1Click);
    connect(c.SetDeepSeaColor2, &QPushButton::clicked, this, &MainWindow::SetDeepSeaColor2Click);
    connect(c.SetDeepIceColor, &QPushButton::clicked, this, &MainWindow::SetDeepIceColorClick);
    connect(c.SetAirColor1, &QPushButton::clicked, this, &MainWindow::SetAirColor1Click);
    connect(c.SetAirColor2, &QPushButton::clicked, this, &MainWindow::SetAirColor2Click);

    connect(c.O1, &QAction::triggered, this, &MainWindow::O1Click);
    connect(c.S1, &QAction::triggered, this, &MainWindow::S1Click);
    connect(c.A1, &QAction::triggered, this, &MainWindow::A1Click);
    connect(c.ExportGltf1, &QAction::triggered, this, &MainWindow::ExportGltf1Click);
    connect(c.Exit1, &QAction::triggered, this, &MainWindow::Exit1Click);
    connect(c.JPEGJ1, &QAction::triggered, this, &MainWindow::JPEGJ1Click);
    connect(c.ExtendedOutput1, &QAction::triggered, this, &MainWindow::ExtendedOutput1Click);
    connect(c.LanguageAuto, &QAction::triggered, this,
            [this] { LanguageClick(LanguageChoice::Auto); });
    connect(c.LanguageJapanese, &QAction::triggered, this,
            [this] { LanguageClick(LanguageChoice::Japanese); });
    connect(c.LanguageEnglish, &QAction::triggered, this,
            [this] { LanguageClick(LanguageChoice::English); });
    connect(c.GlobeView1, &QAction::triggered, this, &MainWindow::GlobeView1Click);
}

}  // namespace globeforge
