#include "ui/db_tester.h"

#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/message_box.h"
#include "app/search_paths.h"
#include "ui/display_text.h"
#include "ui/tester_database.h"

namespace {

QPlainTextEdit* ReadOnlyText(QWidget* parent, const char* id) {
  auto* edit = new QPlainTextEdit(parent);
  edit->setObjectName(QString::fromLatin1(id));
  edit->setReadOnly(true);
  return edit;
}

}  // namespace

CKivClientTester::CKivClientTester(MessageLoop* main_window, platform::Clock& clock,
                                   QWidget* parent)
    : QDialog(parent), db_(CTesterDatabase::Start(main_window, clock)) {
  setObjectName(QString::number(kTemplateId));
  setWindowTitle(QStringLiteral("Vornic Tester"));

  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot | QDir::System);
  model_->setRootPath(QStringLiteral("/"));
  tree_ = new QTreeView(this);
  tree_->setObjectName(QStringLiteral("1125"));
  tree_->setModel(model_);
  tree_->setRootIndex(model_->index(QStringLiteral("/")));
  for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
  tree_->header()->hide();
  tree_->setAccessibleName(QStringLiteral("Navigate to music file to view database entry"));

  auto* database_label = new QLabel(QStringLiteral("KIV Database"), this);
  database_label->setObjectName(QStringLiteral("1129"));
  summary_ = ReadOnlyText(this, "1128");
  database_label->setBuddy(summary_);
  summary_->setAccessibleName(QStringLiteral("KIV Database"));
  summary_->setMaximumHeight(90);
  path_ = new QLineEdit(this);
  path_->setObjectName(QStringLiteral("1133"));
  path_->setReadOnly(true);
  path_->setAccessibleName(QStringLiteral("Selected path"));
  record_ = ReadOnlyText(this, "1130");
  record_->setAccessibleName(QStringLiteral("Database entry"));

  struct Button {
    const char* id;
    const char* text;
  };
  const Button specs[] = {{"1134", "Play"},     {"1136", "History"}, {"1135", "Send"},
                          {"1138", "Send All"}, {"1137", "Delete"},  {"1142", "Version Check"},
                          {"1", "Close"}};
  auto* buttons = new QHBoxLayout;
  QPushButton* made[7];
  for (int i = 0; i < 7; ++i) {
    made[i] = new QPushButton(QString::fromLatin1(specs[i].text), this);
    made[i]->setObjectName(QString::fromLatin1(specs[i].id));
    made[i]->setAutoDefault(false);
    if (i == 6) buttons->addStretch(1);
    buttons->addWidget(made[i]);
  }
  made[6]->setDefault(true);
  connect(made[0], &QPushButton::clicked, this, [this] { Change(TesterChange::kPlay); });
  connect(made[1], &QPushButton::clicked, this, [this] { Change(TesterChange::kHistory); });
  connect(made[2], &QPushButton::clicked, this, [this] { Change(TesterChange::kSend); });
  connect(made[3], &QPushButton::clicked, this, &CKivClientTester::SendAll);
  connect(made[4], &QPushButton::clicked, this, [this] { Change(TesterChange::kDelete); });
  connect(made[5], &QPushButton::clicked, this, [this] { db_->VersionCheckAsync(); });
  connect(made[6], &QPushButton::clicked, this, &QDialog::accept);

  auto* right = new QVBoxLayout;
  right->addWidget(database_label);
  right->addWidget(summary_);
  right->addWidget(path_);
  right->addWidget(record_, 1);
  auto* columns = new QHBoxLayout;
  columns->addWidget(tree_, 1);
  columns->addLayout(right, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel(QStringLiteral("Navigate to music file to view database entry"), this));
  layout->addLayout(columns, 1);
  layout->addLayout(buttons);
  resize(860, 560);

  connect(db_, &CTesterDatabase::summaryReady, this, [this](const QString& text) {
    summary_->setPlainText(DisplayText(text));
    emit summaryShown();
  });
  connect(db_, &CTesterDatabase::recordReady, this,
          [this](const QString& path, const QString& text) {
            if (path != current_file_) return;  // an answer for a file no longer selected
            record_->setPlainText(DisplayText(text));
            emit recordShown();
          });
  connect(model_, &QFileSystemModel::directoryLoaded, this, &CKivClientTester::OnDirectoryLoaded);
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& index) { OnPathSelected(model_->filePath(index), index); });

  SearchPathMap folders;
  LoadSearchPaths(folders);
  if (!folders.empty()) SelectPath(QString::fromStdString(folders.begin()->first));

  db_->SummaryAsync();
  connect(&refresh_, &QTimer::timeout, this, &CKivClientTester::Refresh);
  refresh_.start(kRefreshMs);
}

CKivClientTester::~CKivClientTester() { db_->Release(); }

void CKivClientTester::SelectPath(const QString& path) {
  const QModelIndex index = model_->index(path);
  if (!index.isValid()) {
    // A file the model has not listed yet.
    OnPathSelected(path, index);
    return;
  }
  // The model lists folders in the background; until the path's folders are
  // listed the view may move its current item, so the choice is made again
  // as each of them arrives.
  pending_ = path;
  tree_->setCurrentIndex(index);
  tree_->scrollTo(index);
}

void CKivClientTester::OnDirectoryLoaded(const QString& folder) {
  if (pending_.isEmpty()) return;
  if (!pending_.startsWith(folder)) return;
  const QModelIndex index = model_->index(pending_);
  if (tree_->currentIndex() != index) tree_->setCurrentIndex(index);
  tree_->scrollTo(index);
  if (folder != pending_ && QFileInfo(pending_).path() != folder) return;
  // The model sorts a listed folder a moment later; scroll once it has.
  const QPersistentModelIndex target(index);
  QTimer::singleShot(250, this, [this, target] {
    if (target.isValid()) tree_->scrollTo(target, QAbstractItemView::PositionAtCenter);
  });
  pending_.clear();
}

void CKivClientTester::OnPathSelected(const QString& path, const QModelIndex& index) {
  path_->setText(path);
  const QFileInfo info(path);
  if (!info.exists() || info.isDir()) {
    if (index.isValid()) tree_->expand(index);
    return;
  }
  current_file_ = path;
  db_->ShowAsync(current_file_);
}

void CKivClientTester::Refresh() {
  db_->SummaryAsync();
  if (!current_file_.isEmpty()) db_->ShowAsync(current_file_);
}

void CKivClientTester::Change(TesterChange change) {
  if (!current_file_.isEmpty()) db_->ChangeAsync(current_file_, change);
}

void CKivClientTester::SendAll() {
  // String 250.
  if (AppMessageBox("Are you sure you want to make all entries to be resent?",
                    MB_YESNO | MB_ICONQUESTION) == IDYES)
    db_->SendAllAsync(current_file_);
}
