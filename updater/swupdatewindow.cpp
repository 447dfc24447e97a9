#include "swupdatewindow.h"

#include "swavailableupdate.h"
#include "swreleasenotesbrowser.h"
#include "swupdater.h"
#include "swversion.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

void Ui_SwUpdateWindow::setupUi(QWidget *SwUpdateWindow)
{
    if (SwUpdateWindow->objectName().isEmpty())
        SwUpdateWindow->setObjectName(QStringLiteral("SwUpdateWindow"));
    SwUpdateWindow->setWindowModality(Qt::ApplicationModal);
    SwUpdateWindow->setEnabled(true);
    SwUpdateWindow->resize(715, 464);
    SwUpdateWindow->setMinimumSize(QSize(715, 464));
    SwUpdateWindow->setMaximumSize(QSize(715, 464));
    SwUpdateWindow->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
    SwUpdateWindow->setFocusPolicy(Qt::StrongFocus);

    QFont bold;
    bold.setBold(true);

    horizontalLayout_6 = new QHBoxLayout(SwUpdateWindow);
    horizontalLayout_6->setObjectName(QStringLiteral("horizontalLayout_6"));
    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));

    newVersionIsAvailableLabel = new QLabel(SwUpdateWindow);
    newVersionIsAvailableLabel->setObjectName(QStringLiteral("newVersionIsAvailableLabel"));
    newVersionIsAvailableLabel->setFont(bold);
    verticalLayout->addWidget(newVersionIsAvailableLabel);

    wouldYouLikeToDownloadLabel = new QLabel(SwUpdateWindow);
    wouldYouLikeToDownloadLabel->setObjectName(QStringLiteral("wouldYouLikeToDownloadLabel"));
    verticalLayout->addWidget(wouldYouLikeToDownloadLabel);

    groupBox = new QGroupBox(SwUpdateWindow);
    groupBox->setObjectName(QStringLiteral("groupBox"));
    groupBox->setFont(bold);
    horizontalLayout_7 = new QHBoxLayout(groupBox);
    horizontalLayout_7->setObjectName(QStringLiteral("horizontalLayout_7"));
    releaseNotesWebView = new SwReleaseNotesBrowser(groupBox);
    releaseNotesWebView->setObjectName(QStringLiteral("releaseNotesWebView"));
    releaseNotesWebView->setMinimumSize(QSize(160, 80));
    releaseNotesWebView->setMouseTracking(false);
    releaseNotesWebView->setFocusPolicy(Qt::StrongFocus);
    // The notes are body text, not part of the bold frame title.
    releaseNotesWebView->setFont(QFont());
    releaseNotesWebView->load(QUrl(QStringLiteral("about:blank")));
    horizontalLayout_7->addWidget(releaseNotesWebView);
    verticalLayout->addWidget(groupBox);

    horizontalLayout_3 = new QHBoxLayout();
    horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    skipThisVersionButton = new QPushButton(SwUpdateWindow);
    skipThisVersionButton->setObjectName(QStringLiteral("skipThisVersionButton"));
    horizontalLayout_3->addWidget(skipThisVersionButton);
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout_3->addItem(horizontalSpacer);
    remindMeLaterButton = new QPushButton(SwUpdateWindow);
    remindMeLaterButton->setObjectName(QStringLiteral("remindMeLaterButton"));
    horizontalLayout_3->addWidget(remindMeLaterButton);
    installUpdateButton = new QPushButton(SwUpdateWindow);
    installUpdateButton->setObjectName(QStringLiteral("installUpdateButton"));
    installUpdateButton->setAutoDefault(true);
    installUpdateButton->setDefault(true);
    horizontalLayout_3->addWidget(installUpdateButton);
    verticalLayout->addLayout(horizontalLayout_3);

    horizontalLayout_6->addLayout(verticalLayout);

    retranslateUi(SwUpdateWindow);
    QMetaObject::connectSlotsByName(SwUpdateWindow);
}

void Ui_SwUpdateWindow::retranslateUi(QWidget *SwUpdateWindow)
{
    SwUpdateWindow->setWindowTitle(QCoreApplication::translate("SwUpdateWindow", "Software Update"));
    newVersionIsAvailableLabel->setText(QCoreApplication::translate(
        "SwUpdateWindow", "A new version of Corvane Zorad Urizaderi is available!"));
    wouldYouLikeToDownloadLabel->setText(QCoreApplication::translate("SwUpdateWindow",
        "Corvane Zorad Urizaderi %2 is now available - you have %3. Would you like to download it now?"));
    groupBox->setTitle(QCoreApplication::translate("SwUpdateWindow", "Release Notes:"));
    skipThisVersionButton->setText(QCoreApplication::translate("SwUpdateWindow", "Skip This Version"));
    remindMeLaterButton->setText(QCoreApplication::translate("SwUpdateWindow", "Remind Me Later"));
    installUpdateButton->setText(QCoreApplication::translate("SwUpdateWindow", "Install Update"));
}

SwUpdateWindow::SwUpdateWindow(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui_SwUpdateWindow)
    , m_updater(SwUpdater::updaterInstance())
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose, true);
    SwUpdater *updater = m_updater;
    connect(m_ui->installUpdateButton, &QPushButton::clicked, updater, &SwUpdater::InstallUpdate);
    connect(m_ui->skipThisVersionButton, &QPushButton::clicked, updater, &SwUpdater::SkipUpdate);
    connect(m_ui->remindMeLaterButton, &QPushButton::clicked, updater, &SwUpdater::RemindMeLater);
}

SwUpdateWindow::~SwUpdateWindow()
{
    m_ui->releaseNotesWebView->stop();
    delete m_ui;
}

bool SwUpdateWindow::updateFromProposedUpdate()
{
    SwAvailableUpdate *proposal = m_updater ? m_updater->currentProposal() : nullptr;
    if (!proposal)
        return false;
    // One pass, so a version text holding "%3" stays as it came.
    const QString text = m_ui->wouldYouLikeToDownloadLabel->text().arg(
        proposal->enclosureVersion(), QLatin1String(kSwCurrentVersion));
    m_ui->wouldYouLikeToDownloadLabel->setText(text);
    m_ui->releaseNotesWebView->stop();
    m_ui->releaseNotesWebView->load(proposal->releaseNotesLink());
    return true;
}

void SwUpdateWindow::closeEvent(QCloseEvent *event)
{
    if (m_updater)
        m_updater->onUpdateWindowClosed();
    event->accept();
}
