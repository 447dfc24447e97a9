#include "swupdateconfirmdialog.h"

#include "swupdater.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMetaObject>
#include <QVBoxLayout>

void Ui_SwUpdateConfirmDialog::setupUi(QDialog *SwUpdateConfirmDialog)
{
    if (SwUpdateConfirmDialog->objectName().isEmpty())
        SwUpdateConfirmDialog->setObjectName(QStringLiteral("SwUpdateConfirmDialog"));
    SwUpdateConfirmDialog->setWindowModality(Qt::ApplicationModal);
    SwUpdateConfirmDialog->resize(480, 160);
    SwUpdateConfirmDialog->setSizePolicy(QSizePolicy(QSizePolicy::Minimum, QSizePolicy::MinimumExpanding));
    SwUpdateConfirmDialog->setMinimumSize(QSize(480, 160));
    SwUpdateConfirmDialog->setModal(true);

    verticalLayout = new QVBoxLayout(SwUpdateConfirmDialog);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));

    downloadThisUpdateLabel = new QLabel(SwUpdateConfirmDialog);
    downloadThisUpdateLabel->setObjectName(QStringLiteral("downloadThisUpdateLabel"));
    downloadThisUpdateLabel->setSizePolicy(QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum));
    downloadThisUpdateLabel->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    downloadThisUpdateLabel->setWordWrap(true);
    downloadThisUpdateLabel->setMargin(15);
    downloadThisUpdateLabel->setIndent(3);
    verticalLayout->addWidget(downloadThisUpdateLabel);

    confirmButtonBox = new QDialogButtonBox(SwUpdateConfirmDialog);
    confirmButtonBox->setObjectName(QStringLiteral("confirmButtonBox"));
    confirmButtonBox->setSizePolicy(QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed));
    confirmButtonBox->setOrientation(Qt::Horizontal);
    confirmButtonBox->setStandardButtons(QDialogButtonBox::Cancel | QDialogButtonBox::Ok);
    verticalLayout->addWidget(confirmButtonBox);

    SwUpdateConfirmDialog->setWindowTitle(
        QCoreApplication::translate("SwUpdateConfirmDialog", "Software Update"));
    downloadThisUpdateLabel->setText(QCoreApplication::translate("SwUpdateConfirmDialog",
        "Please Download the update. Close %1 and double click the downloaded file to install the update. "
        "Then reopen Zorad Urizaderi."));

    QMetaObject::connectSlotsByName(SwUpdateConfirmDialog);
}

SwUpdateConfirmDialog::SwUpdateConfirmDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui_SwUpdateConfirmDialog)
    , m_updater(SwUpdater::updaterInstance())
{
    m_ui->setupUi(this);
    setModal(true);
    setAttribute(Qt::WA_DeleteOnClose, true);
    m_ui->downloadThisUpdateLabel->setText(
        m_ui->downloadThisUpdateLabel->text().arg(QStringLiteral("Corvane Zorad Urizaderi")));
    SwUpdater *updater = m_updater;
    connect(m_ui->confirmButtonBox, &QDialogButtonBox::accepted, updater,
        &SwUpdater::UpdateInstallationConfirmed);
    connect(m_ui->confirmButtonBox, &QDialogButtonBox::rejected, updater,
        &SwUpdater::UpdateInstallationNotConfirmed);
}

SwUpdateConfirmDialog::~SwUpdateConfirmDialog()
{
    delete m_ui;
}

bool SwUpdateConfirmDialog::updateFromProposedUpdate()
{
    return m_updater && m_updater->currentProposal();
}

void SwUpdateConfirmDialog::closeEvent(QCloseEvent *event)
{
    if (m_updater)
        m_updater->onConfirmDialogClosed();
    event->accept();
}
