#pragma once

#include <QString>

class QApplication;
class QCoreApplication;

namespace brisolta {

inline const QString ApplicationTitle = QStringLiteral("Brisolta");

// Qt's own texts in Italian: the buttons ("Sì", "No", ...) and the command line's usage.
void installQtTranslation(QCoreApplication &app);

// Names the application and installs Qt's own Italian texts.
void setUpApplication(QApplication &app);

// Loads the main window from `directory` (the executable's own when empty), shows it and runs until it
// closes. A failure while loading is reported and ends the program with a non-zero status.
int run(const QString &directory = QString());

} // namespace brisolta
