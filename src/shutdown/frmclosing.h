#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QShowEvent;
class QTimer;

namespace kestrella {

class DataSource;

// The last window of a run: as it opens it removes the first record whose name holds no value (the
// trace of an addition stored before a name was typed), then its timer unloads it, and with it the
// program. It never asks anything: its timer would close it underneath a message box.
class frmClosing : public QWidget
{
    Q_OBJECT

public:
    explicit frmClosing(const QString& applicationFolder, QWidget* parent = nullptr);

    // Walks the Programs table once, showing its progress in lblStatus. Never throws.
    void ClosingWalk();

    // The timer's interval in milliseconds for windows constructed from now on (tests shorten it).
    static void setTickInterval(int ms);
    static int tickInterval();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void placeControls();
    void beginClosing();
    void removeCurrentRecord();
    void Timer1_Timer();
    void unload();

    QString m_applicationFolder;
    QLabel* lblStatus = nullptr;
    QLabel* lblcount = nullptr;
    DataSource* datClose = nullptr;
    QTimer* Timer1 = nullptr;
    bool m_opened = false;
};

} // namespace kestrella
