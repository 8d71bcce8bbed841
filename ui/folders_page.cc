#include "ui/folders_page.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QUrl>
#include <QVBoxLayout>

#include "app/reg_settings.h"
#include "platform/last_error.h"

namespace {

// Whether an item's check box was on when last seen, to tell a toggle from
// any other change of the item.
constexpr int kCheckedRole = Qt::UserRole + 1;

}  // namespace

CFolderListCtrl::CFolderListCtrl(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void CFolderListCtrl::AddFolder(const QString& path, bool enabled) {
  auto* item = new QListWidgetItem(path);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  item->setCheckState(enabled ? Qt::Checked : Qt::Unchecked);
  item->setData(kCheckedRole, enabled);
  addItem(item);
  UpdateColours();
}

bool CFolderListCtrl::Contains(const QString& path) const {
  for (int i = 0; i < count(); ++i)
    if (item(i)->text() == path) return true;
  return false;
}

void CFolderListCtrl::UpdateColours() {
  const QSignalBlocker quiet(this);
  for (int i = 0; i < count(); ++i) {
    QListWidgetItem* it = item(i);
    const bool exists = QFileInfo(it->text()).isDir();
    it->setForeground(
        palette().brush(exists ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  }
}

void CFolderListCtrl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete) {
    emit deletePressed();
    return;
  }
  QListWidget::keyPressEvent(event);
}

CFoldersPage::CFoldersPage(MessageLoop* loop, QWidget* parent) : QWidget(parent), loop_(loop) {
  setObjectName(QString::number(kTemplateId));
  auto* frame = new QGroupBox(
      QStringLiteral("Choose the folders in which Vornic should search for music"), this);
  frame->setObjectName(QStringLiteral("1095"));
  list_ = new CFolderListCtrl(frame);
  list_->setObjectName(QStringLiteral("1119"));
  list_->setAccessibleName(QStringLiteral("Music folders"));
  list_->setAccessibleDescription(frame->title());
  auto button = [this, frame](const char* id, const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text), frame);
    b->setObjectName(QString::fromLatin1(id));
    b->setAutoDefault(false);
    return b;
  };
  QPushButton* add = button("1093", "Add Folder...");
  delete_ = button("1092", "Delete");
  open_ = button("1122", "Open Folder");
  QPushButton* search = button("1102", "Search All Now");
  error_ = new QLabel(frame);
  error_->setObjectName(QStringLiteral("saveError"));
  error_->setWordWrap(true);
  error_->hide();

  auto* grid = new QGridLayout(frame);
  grid->addWidget(list_, 0, 0, 1, 5);
  grid->addWidget(add, 1, 0);
  grid->addWidget(delete_, 1, 1);
  grid->addWidget(open_, 1, 2);
  grid->setColumnStretch(3, 1);
  grid->addWidget(search, 1, 4);
  grid->addWidget(error_, 2, 0, 1, 5);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(frame);

  connect(add, &QPushButton::clicked, this, &CFoldersPage::AddFolder);
  connect(delete_, &QPushButton::clicked, this, &CFoldersPage::DeleteSelected);
  connect(open_, &QPushButton::clicked, this, &CFoldersPage::OpenFolder);
  connect(search, &QPushButton::clicked, this, &CFoldersPage::SearchAllNow);
  connect(list_, &CFolderListCtrl::deletePressed, this, &CFoldersPage::DeleteSelected);
  connect(list_, &QListWidget::itemSelectionChanged, this, &CFoldersPage::UpdateButtons);
  connect(list_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    const bool checked = item->checkState() == Qt::Checked;
    if (filling_ || item->data(kCheckedRole).toBool() == checked) return;
    item->setData(kCheckedRole, checked);
    Save();
  });
  Refill();
}

void CFoldersPage::Refill() {
  QStringList selected;
  for (const QListWidgetItem* item : list_->selectedItems()) selected << item->text();
  const QString current = list_->currentItem() ? list_->currentItem()->text() : QString();
  filling_ = true;
  list_->clear();
  LoadSearchPaths(shown_);
  for (const auto& [path, enabled] : shown_) {
    list_->AddFolder(QString::fromStdString(path), enabled);
    QListWidgetItem* item = list_->item(list_->count() - 1);
    item->setSelected(selected.contains(item->text()));
    if (item->text() == current) list_->setCurrentItem(item, QItemSelectionModel::NoUpdate);
  }
  filling_ = false;
  UpdateButtons();
}

void CFoldersPage::OnSearchPathsSaved() {
  SearchPathMap stored;
  LoadSearchPaths(stored);
  if (stored != shown_ || list_->count() != static_cast<int>(shown_.size())) Refill();
}

void CFoldersPage::AddFolder() {
  const QString path = QFileDialog::getExistingDirectory(
      nullptr, QStringLiteral("Select a search directory"), QString(), QFileDialog::ShowDirsOnly);
  AddPath(path);
}

bool CFoldersPage::AddPath(const QString& path) {
  if (path.isEmpty() || list_->Contains(path)) return false;
  filling_ = true;
  list_->AddFolder(path, true);
  filling_ = false;
  Save();
  return true;
}

void CFoldersPage::DeleteSelected() {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  for (QListWidgetItem* item : selected) delete list_->takeItem(list_->row(item));
  UpdateButtons();
  if (!selected.isEmpty()) Save();
}

void CFoldersPage::OpenFolder() {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(selected.first()->text()));
}

void CFoldersPage::SearchAllNow() { Save(true); }

SearchPathMap CFoldersPage::ShownList() const {
  SearchPathMap map;
  for (int i = 0; i < list_->count(); ++i) {
    const QListWidgetItem* item = list_->item(i);
    if (item->text().isEmpty()) continue;
    map[SearchPathKey(item->text().toStdString())] = item->checkState() == Qt::Checked ? 1 : 0;
  }
  return map;
}

void CFoldersPage::Save(bool search_now) {
  // Only what the user changed since the page last showed the stored list
  // goes onto the list as it is stored now.
  const SearchPathMap now = ShownList();
  const SearchPathMap before = shown_;
  const BOOL saved = ChangeSearchPaths([&](SearchPathMap& stored) {
    for (const auto& [path, enabled] : before)
      if (!now.count(path)) stored.erase(path);
    for (const auto& [path, enabled] : now) {
      const auto was = before.find(path);
      if (was == before.end() || was->second != enabled) stored[path] = enabled;
    }
    return true;
  });
  if (!saved) {
    const DWORD error = platform::GetLastError();
    error_->setText(QStringLiteral("The music folders could not be saved (settings error %1); "
                                   "the list shows the folders that are stored.")
                        .arg(error));
    error_->show();
    Refill();
    return;
  }
  error_->hide();
  Refill();
  if (loop_) loop_->PostMessage(WM_SEARCH_PATHS_SAVED, search_now ? 1 : 0, 0);
}

void CFoldersPage::UpdateButtons() {
  const bool any = !list_->selectedItems().isEmpty();
  delete_->setEnabled(any);
  open_->setEnabled(any);
}

void CFoldersPage::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete) {
    DeleteSelected();
    return;
  }
  QWidget::keyPressEvent(event);
}

void CFoldersPage::showEvent(QShowEvent* event) {
  // The list may have changed while the page was not shown.
  Refill();
  QWidget::showEvent(event);
}
