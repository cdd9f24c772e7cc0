// Runs the main window on a contact folder (the program's own choice when <dir> is empty) and performs one
// action, for tests that need another user:
//   windowdriver <dir> probe|list|add|remove
// Prints each message box ("BOX <style> =<hex title> =<hex prompt>"), then the list ("ROW =<hex>x6") and the
// fields ("FIELDS =<hex>x6"). A remove removes the first row of the list, as a click on it and Rimuovi would.

#include "testsupport.h"

#include <cstdio>

namespace {

QByteArray encoded(const QStringList &texts)
{
    QByteArray line;
    for (const QString &text : texts)
        line += " =" + text.toUtf8().toHex();
    return line;
}

void say(const QByteArray &line)
{
    std::fputs((line + '\n').constData(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    brisolta::setUpApplication(app);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 1;
    if (args[2] == QLatin1String("probe")) {
        say("PROBE");
        return 0;
    }
    setMsgBoxAnswerer([](const QString &prompt, int style, const QString &title) {
        say("BOX " + QByteArray::number(style) + encoded({title, prompt}));
        return int(vbYes);
    });
    frmGESTDB window(args[1]);
    try {
        window.Form_Load();
    } catch (const EngineError &error) {
        say("ERROR " + QByteArray::number(error.number()));
        return 2;
    }
    if (args[2] == QLatin1String("add")) {
        typeContact(window, {"Zeno", "Dell'Orto", "02 99", "", "", ""});
        window.Command1_Click(0);
    } else if (args[2] == QLatin1String("remove") && window.lstADD->ListItems().Count() > 0) {
        const ListItem first = window.lstADD->ListItems().Item(1);
        first.setSelected(true);
        typeContact(window, listRows(window).value(0));
        window.Command1_Click(1);
    }
    for (const QStringList &row : listRows(window))
        say("ROW" + encoded(row));
    say("FIELDS" + encoded(fieldTexts(window)));
    return 0;
}
