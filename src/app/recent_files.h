// The file menu's list of the settings files last opened or saved, newest first, and the
// names files dropped on the window carry.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QMenu;
class QMimeData;

namespace globeforge {

class RecentFilesMenu : public QObject {
    Q_OBJECT
  public:
    // Fills menu (which stays disabled while the list is empty).
    RecentFilesMenu(QMenu* menu, QObject* parent);

    void SetFiles(const QStringList& files);
    // Puts the file (as an absolute name) first, dropping an older place of it and the oldest
    // beyond the list's length. False when the list did not change.
    bool Add(const QString& file);
    const QStringList& Files() const { return files_; }
    QMenu* Menu() const { return menu_; }

  signals:
    void FileChosen(const QString& file);

  private:
    void Rebuild();

    QMenu* menu_;
    QStringList files_;
};

// The first local file among the dropped URLs whose extension (in any case) is one of
// suffixes; empty when there is none.
QString DroppedFile(const QMimeData* data, const QStringList& suffixes);

// Makes a picture field take a picture file dropped on it; set is told the field and the file.
void AcceptPictureDrops(QObject* field, const std::function<void(const QString&)>& set);

}  // namespace globeforge
