#pragma once

#include <QString>

// Text that came from outside (a server's version or message, a file or member name, a port
// name) without its control characters, so that printing it can neither move the cursor nor
// retitle, clear or recolour the terminal. Every text the program prints passes here.
QString PrintableText(const QString& text);
