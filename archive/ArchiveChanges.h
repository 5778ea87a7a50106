#pragma once
// Tells the open windows of this program that links or register entries
// changed, so that a window showing them reads them again. Each window keeps
// its own connection; this carries no data, only the news.

#include <QObject>

namespace sf6 {

class ArchiveChanges : public QObject {
    Q_OBJECT
signals:
    void registerChanged();
};

ArchiveChanges& archiveChanges();
inline void notifyRegisterChanged() { emit archiveChanges().registerChanged(); }

} // namespace sf6
