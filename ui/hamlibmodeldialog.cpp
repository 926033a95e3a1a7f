// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/hamlibmodeldialog.h"

#include "linkedhamlib/hamlibmodels.h"
#include "ui_HamlibModelDialog.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>

namespace {

constexpr int modelRole = Qt::UserRole + 1;
const int baudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

} // namespace

HamlibModelDialog::HamlibModelDialog(bool rotator, const HamlibDevice &current, QWidget *parent)
    : QDialog(parent)
    , m_rotator(rotator)
    , m_device(current)
    , m_ui(std::make_unique<Ui::HamlibModelDialog>())
    , m_models(new QStandardItemModel(this))
    , m_shown(new QSortFilterProxyModel(this))
{
    m_ui->setupUi(this);
    setWindowTitle(rotator ? QStringLiteral("Hamlib rotator") : QStringLiteral("Hamlib radio"));
    for (const hamlibmodels::Model &model : rotator ? hamlibmodels::rotators() : hamlibmodels::radios()) {
        auto *item = new QStandardItem(QStringLiteral("%1 %2 (%3, %4)")
                                           .arg(model.maker, model.name)
                                           .arg(model.number)
                                           .arg(model.status));
        item->setData(model.number, modelRole);
        m_models->appendRow(item);
    }
    m_shown->setSourceModel(m_models);
    m_ui->listHamlibModels->setModel(m_shown);
    connect(m_ui->lineHamlibSearch, &QLineEdit::textChanged, this, &HamlibModelDialog::search);
    connect(m_ui->listHamlibModels->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { choose(chosenModel()); });
    connect(m_ui->listHamlibModels, &QAbstractItemView::doubleClicked, this, &HamlibModelDialog::accept);
    connect(m_ui->buttonsHamlibModel, &QDialogButtonBox::accepted, this, &HamlibModelDialog::accept);

    m_ui->comboHamlibBaud->addItem(QStringLiteral("the model's own"), 0);
    for (int rate : baudRates)
        m_ui->comboHamlibBaud->addItem(QString::number(rate), rate);
    const int baud = m_ui->comboHamlibBaud->findData(current.baudRate);
    m_ui->comboHamlibBaud->setCurrentIndex(qMax(0, baud));
    m_ui->lineHamlibConfig->setText(current.config);

    for (int row = 0; row < m_shown->rowCount(); ++row) {
        if (m_shown->index(row, 0).data(modelRole).toInt() == current.model) {
            m_ui->listHamlibModels->setCurrentIndex(m_shown->index(row, 0));
            break;
        }
    }
    choose(chosenModel());
    m_ui->lineHamlibSearch->setFocus();
}

HamlibModelDialog::~HamlibModelDialog() = default;

void HamlibModelDialog::search(const QString &text)
{
    QString pattern = QStringLiteral("^");
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        pattern += QStringLiteral("(?=.*%1)").arg(QRegularExpression::escape(word));
    m_shown->setFilterRegularExpression(QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption));
    // One model left: that is the choice.
    if (m_shown->rowCount() == 1)
        m_ui->listHamlibModels->setCurrentIndex(m_shown->index(0, 0));
    choose(chosenModel());
}

int HamlibModelDialog::chosenModel() const
{
    const QModelIndex current = m_ui->listHamlibModels->currentIndex();
    return current.isValid() ? current.data(modelRole).toInt() : 0;
}

void HamlibModelDialog::choose(int model)
{
    m_ui->buttonsHamlibModel->button(QDialogButtonBox::Ok)->setEnabled(model > 0);
    const QStringList names = model > 0 ? hamlibmodels::settingNames(m_rotator, model) : QStringList();
    m_ui->labelHamlibSettings->setText(names.isEmpty() ? QString()
                                                       : QStringLiteral("Hamlib's settings for %1: %2")
                                                             .arg(hamlibmodels::name(m_rotator, model),
                                                                  names.join(QLatin1String(", "))));
}

void HamlibModelDialog::accept()
{
    const int model = chosenModel();
    if (model <= 0)
        return;
    m_device.model = model;
    m_device.baudRate = m_ui->comboHamlibBaud->currentData().toInt();
    m_device.config = m_ui->lineHamlibConfig->text().trimmed();
    QDialog::accept();
}
