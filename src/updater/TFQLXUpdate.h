#pragma once

#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class GradientPanel;
class MonitorLog;
class StatusPanels;

// The updater window. It owns the controls and the components and binds their events;
// the work itself happens in the components and the flashing module.
class TFQLXUpdate : public QWidget {
    Q_OBJECT
public:
    explicit TFQLXUpdate(QWidget* parent = nullptr);
    ~TFQLXUpdate() override;

    // Monitor log.
    void AppendLine(const QString& line);
    void ExtendLine(const QString& suffix);

    void EnterBusyState();
    void LeaveBusyState();

    bool AbortFlag() const { return abortFlag_; }
    bool CloseAllowed() const { return closeAllowed_; }
    bool PortLock() const { return portLock_; }
    bool Busy() const { return busy_; }
    QString WorkDirectory() const { return workDirectory_; }

    void btnCloseClick();
    void imgDevMouseDown(Qt::MouseButton button);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void SetCaptionIcons(bool present);
    bool ImagesPresent() const;

    // Controls, named as the layout names them.
    QWidget* Panel1 = nullptr;
    QLabel* imgSymbol = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLabel* lblPort = nullptr;
    QComboBox* ComComboBox = nullptr;
    GradientPanel* GradientPanel1 = nullptr;
    QLabel* lblCaption = nullptr;
    QGroupBox* grpWeb = nullptr;
    QPushButton* btnWebFirmware = nullptr;
    QGroupBox* grpMonitor = nullptr;
    QLabel* lblAbort = nullptr;
    MonitorLog* lstMonitor = nullptr;
    QLabel* lblBlock = nullptr;
    QProgressBar* prgUpload = nullptr;
    QLabel* imgDev = nullptr;
    QLabel* lblTotalDev = nullptr;
    QLabel* lblProg = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* btnOS = nullptr;
    QPushButton* btnExt = nullptr;
    QPushButton* btnClose = nullptr;
    StatusPanels* StatusBar = nullptr;
    QTimer* tmSearch = nullptr;

    bool abortFlag_ = true;
    bool closeAllowed_ = true;
    bool portLock_ = false;
    bool busy_ = false;
    bool closed_ = false;
    QString workDirectory_;
};
