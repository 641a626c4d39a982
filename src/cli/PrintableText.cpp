#include "cli/PrintableText.h"

QString PrintableText(const QString& text) {
    QString printable;
    printable.reserve(text.size());
    for (const QChar ch : text)
        if (ch.category() != QChar::Other_Control)
            printable += ch;
    return printable;
}
