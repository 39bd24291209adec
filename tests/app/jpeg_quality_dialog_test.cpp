#include "app/jpeg_quality_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

#include "core/jpeg_quality.h"
#include "image/image_files.h"
#include "window_harness.h"

namespace globeforge {
namespace {

using testing::ModalWatcher;

// Opens the dialog, lets `act` handle it while it is up, and returns its result.
int RunDialog(JPEGQualityForm& form, const std::function<void(JPEGQualityForm&)>& act) {
    ModalWatcher watcher([&](QDialog* dialog) {
        if (dialog == &form && form.isVisible()) act(form);
    });
    return form.exec();
}

void Press(JPEGQualityForm& form, const char* button) {
    QTest::mouseClick(form.findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
}

TEST(JpegQualityDialog, BarFollowsQualityOkStoresCancelKeeps) {
    SetJpegQuality(90);
    JPEGQualityForm form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("JPEG圧縮率の指定"));
    EXPECT_EQ(form.size(), QSize(343, 104));

    int shown = -1;
    QString label;
    int result = RunDialog(form, [&](JPEGQualityForm& f) {
        shown = f.Quality()->value();
        label = f.QualityText()->text();
        f.Quality()->setValue(50);
        EXPECT_EQ(f.QualityText()->text(), QStringLiteral("50%"));
        Press(f, "BitBtn2");
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(shown, 90);
    EXPECT_EQ(label, QStringLiteral("90%"));
    EXPECT_EQ(GetJpegQuality(), 90);

    result = RunDialog(form, [&](JPEGQualityForm& f) {
        shown = f.Quality()->value();  // the current quality again, not the cancelled 50
        f.Quality()->setValue(75);
        Press(f, "BitBtn1");
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(shown, 90);
    EXPECT_EQ(GetJpegQuality(), 75);

    // A stored quality beyond the bar shows as 100 and survives a cancel.
    SetJpegQuality(200);
    result = RunDialog(form, [&](JPEGQualityForm& f) {
        shown = f.Quality()->value();
        Press(f, "BitBtn2");
    });
    EXPECT_EQ(shown, 100);
    EXPECT_EQ(GetJpegQuality(), 200);
    SetJpegQuality(90);
}

}  // namespace
}  // namespace globeforge
