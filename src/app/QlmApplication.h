#pragma once

#include <QApplication>

// The application object: the last line of defence that keeps an exception from
// crossing Qt's event loop; every handler is guarded on its own as well.
class QlmApplication : public QApplication {
public:
    QlmApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
