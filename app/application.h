#pragma once

#include <QString>

class QApplication;

namespace brisolta {

inline const QString ApplicationTitle = QStringLiteral("Brisolta");

// Names the application and installs Qt's own Italian texts ("Sì", "No", ...).
void setUpApplication(QApplication &app);

// Loads the main window from `directory` (the executable's own when empty), shows it and runs until it
// closes. A failure while loading is reported and ends the program with a non-zero status.
int run(const QString &directory = QString());

} // namespace brisolta
