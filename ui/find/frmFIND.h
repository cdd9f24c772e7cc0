#pragma once

// The find dialog: selects the first row of the main window's list whose sub-items begin with a text.

#include <QDialog>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

class frmFIND : public QDialog
{
    Q_OBJECT
public:
    // Builds the dialog and runs its Load event.
    explicit frmFIND(QWidget *parent = nullptr);

    void Command1_Click(qint16 index);

    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    std::array<QPushButton *, 2> Command1{};

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load();
    void find();
};
