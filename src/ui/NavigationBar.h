#pragma once

#include <QHash>
#include <QWidget>

class QPushButton;
class QVBoxLayout;

// The bar on the left of the main window: groups of entries with separators between runs.
class NavigationBar : public QWidget {
    Q_OBJECT
public:
    explicit NavigationBar(QWidget* parent = nullptr);

    void addGroup(const QString& caption);
    QPushButton* addEntry(const QString& caption);
    void addSeparator();
    void finish();
    // The entry with this caption, or nullptr.
    QPushButton* entry(const QString& caption) const;

private:
    QVBoxLayout* m_layout;
    QHash<QString, QPushButton*> m_entries;
};
