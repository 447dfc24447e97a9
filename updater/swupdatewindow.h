#pragma once

#include <QPointer>
#include <QWidget>

class QGroupBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;
class SwReleaseNotesBrowser;
class SwUpdater;

// The form of the update window, built in code.
class Ui_SwUpdateWindow
{
public:
    QHBoxLayout *horizontalLayout_6 = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QLabel *newVersionIsAvailableLabel = nullptr;
    QLabel *wouldYouLikeToDownloadLabel = nullptr;
    QGroupBox *groupBox = nullptr;
    QHBoxLayout *horizontalLayout_7 = nullptr;
    SwReleaseNotesBrowser *releaseNotesWebView = nullptr;
    QHBoxLayout *horizontalLayout_3 = nullptr;
    QPushButton *skipThisVersionButton = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QPushButton *remindMeLaterButton = nullptr;
    QPushButton *installUpdateButton = nullptr;

    void setupUi(QWidget *SwUpdateWindow);
    void retranslateUi(QWidget *SwUpdateWindow);
};

// Announces the proposed update with its release notes; its buttons answer to the updater.
class SwUpdateWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SwUpdateWindow(QWidget *parent = nullptr);
    ~SwUpdateWindow() override;

    // Fills in the offered and the running version and starts loading the release notes.
    bool updateFromProposedUpdate();

    Ui_SwUpdateWindow *ui() const { return m_ui; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui_SwUpdateWindow *m_ui;
    QPointer<SwUpdater> m_updater;
};
