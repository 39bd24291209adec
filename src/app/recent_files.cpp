#include "app/recent_files.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include "settings/preferences.h"

namespace globeforge {

namespace {

const QStringList kPictureSuffixes = {QStringLiteral("bmp"), QStringLiteral("jpg"),
                                      QStringLiteral("jpeg"), QStringLiteral("png")};

// Takes picture files dropped on the object it filters, before the field's own text drop.
class PictureDropFilter : public QObject {
  public:
    PictureDropFilter(QObject* field, std::function<void(const QString&)> set)
        : QObject(field), set_(std::move(set)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
            return QObject::eventFilter(watched, event);
        auto* drop = static_cast<QDropEvent*>(event);
        const QString file = DroppedFile(drop->mimeData(), kPictureSuffixes);
        if (file.isEmpty()) return QObject::eventFilter(watched, event);
        drop->acceptProposedAction();
        if (type == QEvent::Drop) set_(file);
        return true;
    }

  private:
    std::function<void(const QString&)> set_;
};

}  // namespace

RecentFilesMenu::RecentFilesMenu(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu) {
    Rebuild();
}

void RecentFilesMenu::SetFiles(const QStringList& files) {
    files_ = files.mid(0, static_cast<qsizetype>(kMaxRecentFiles));
    Rebuild();
}

bool RecentFilesMenu::Add(const QString& file) {
    QStringList files = files_;
    const QString name = QFileInfo(file).absoluteFilePath();
    files.removeAll(name);
    files.prepend(name);
    files = files.mid(0, static_cast<qsizetype>(kMaxRecentFiles));
    if (files == files_) return false;
    files_ = files;
    Rebuild();
    return true;
}

void RecentFilesMenu::Rebuild() {
    menu_->clear();
    for (qsizetype i = 0; i < files_.size(); ++i) {
        const QString file = files_[i];
        // "&" would mark a mnemonic; the number is the mnemonic.
        QString caption = QString(file).replace(QLatin1Char('&'), QStringLiteral("&&"));
        caption = QStringLiteral("&%1 %2").arg(i + 1).arg(caption);
        QAction* item = menu_->addAction(caption);
        connect(item, &QAction::triggered, this, [this, file] { emit FileChosen(file); });
    }
    menu_->setEnabled(!files_.isEmpty());
}

QString DroppedFile(const QMimeData* data, const QStringList& suffixes) {
    if (!data || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        const QString file = url.toLocalFile();
        if (suffixes.contains(QFileInfo(file).suffix(), Qt::CaseInsensitive)) return file;
    }
    return {};
}

void AcceptPictureDrops(QObject* field, const std::function<void(const QString&)>& set) {
    field->installEventFilter(new PictureDropFilter(field, set));
}

}  // namespace globeforge
