#pragma once

#include <QWidget>

// The picture on the first tab of the main window: a community gate, a card and the system's
// name, drawn to fit whatever size the tab has.
class WelcomePicture : public QWidget {
public:
    explicit WelcomePicture(QWidget* parent = nullptr);
    void setTitle(const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
};
