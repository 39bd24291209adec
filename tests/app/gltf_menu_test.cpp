// The file menu's glTF export: offered only once a render has maps, and through its file
// dialog it writes a binary glTF of the previewed planet.
#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>

#include "app/main_window.h"
#include "window_harness.h"

namespace globeforge {
namespace {

using testing::ModalWatcher;
using testing::WindowUnderTest;

TEST(GltfMenu, ExportsThePreviewedPlanetAsGlbThroughItsDialog) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("planet.glb"));
    WindowUnderTest t;
    QAction* exportAction = t.window.Controls().ExportGltf1;
    EXPECT_FALSE(exportAction->isEnabled());  // no maps yet

    ASSERT_TRUE(t.Preview());
    ASSERT_TRUE(exportAction->isEnabled());
    QStringList filters;
    ModalWatcher watcher([&](QDialog* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        if (!files || !files->isVisible()) return;
        filters = files->nameFilters();
        // Typed into the name field, as the other save dialogs' tests do.
        files->setDirectory(dir.path());
        if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(QStringLiteral("planet.glb"));
        else
            files->selectFile(path);
        dialog->accept();
    });
    exportAction->trigger();

    EXPECT_TRUE(watcher.MessageTexts().isEmpty())
        << watcher.MessageTexts().join("; ").toStdString();
    ASSERT_EQ(filters.size(), 1);
    EXPECT_TRUE(filters.at(0).contains(QStringLiteral("*.glb")));
    EXPECT_TRUE(filters.at(0).contains(QStringLiteral("*.gltf")));
    const QByteArray bytes = testing::ReadFile(path);
    EXPECT_TRUE(bytes.startsWith("glTF"));

    // A folder that does not exist: the message box says so and nothing is written.
    const QString bad = dir.filePath(QStringLiteral("missing/planet.glb"));
    EXPECT_FALSE(t.window.ExportGltfFile(bad));
    ASSERT_EQ(watcher.MessageTexts().size(), 1);
    EXPECT_TRUE(watcher.MessageTexts().at(0).contains(QStringLiteral("does not exist")));
    EXPECT_FALSE(QFileInfo::exists(bad));
}

}  // namespace
}  // namespace globeforge
