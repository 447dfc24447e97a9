#pragma once

#include <QDialog>
#include <QPointer>

class QDialogButtonBox;
class QLabel;
class QVBoxLayout;
class SwUpdater;

// The form of the confirmation dialog, built in code.
class Ui_SwUpdateConfirmDialog
{
public:
    QVBoxLayout *verticalLayout = nullptr;
    QLabel *downloadThisUpdateLabel = nullptr;
    QDialogButtonBox *confirmButtonBox = nullptr;

    void setupUi(QDialog *SwUpdateConfirmDialog);
};

// Asks the user to download the update and install it by hand; OK and Cancel go to the updater.
class SwUpdateConfirmDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SwUpdateConfirmDialog(QWidget *parent = nullptr);
    ~SwUpdateConfirmDialog() override;

    bool updateFromProposedUpdate();

    Ui_SwUpdateConfirmDialog *ui() const { return m_ui; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui_SwUpdateConfirmDialog *m_ui;
    QPointer<SwUpdater> m_updater;
};
