#include "ui/about_box.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/string_table.h"
#include "ui/app_icon.h"
#include "ui/hyperlink_static.h"
#include "ui/service_pages.h"

QString VersionText() {
  return QStringLiteral("Version %1")
      .arg(QString::fromUtf8(LoadStringResource(IDS_CLIENT_VERSION)));
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("100"));
  setWindowTitle(QStringLiteral("About Vornic"));
  setWindowIcon(AppIcon());

  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);
  auto* version = new QLabel(VersionText(), this);
  version->setObjectName(QStringLiteral("1057"));
  auto* description = new QLabel(
      QStringLiteral("Vornic is a media preference conveyance tool to build communities with "
                     "similar tastes.  It connects you with people who share your taste in music "
                     "and media."),
      this);
  description->setWordWrap(true);

  auto* notice = new QLabel(
      QStringLiteral(
          "What Vornic sends to KIV: the tags and audio details of the music in the folders you "
          "choose (title, artist, album, genre, label, length, format, track number), each play "
          "in your media players and the play history of your iTunes library. With every call "
          "it sends your KIV e-mail address, this program's version, the operating system's name "
          "and release, and the hardware address of this computer's network card as the device "
          "name.\n\nWhat it reads besides your music: the list of running programs and the "
          "files your media players hold open, and the KIV login cookie kept by your web "
          "browser (Firefox, or a cookies.txt file), so that a browser signed in to KIV signs it "
          "in "
          "too. It checks the KIV site for a newer version once an hour."),
      this);
  notice->setObjectName(QStringLiteral("notice"));
  notice->setWordWrap(true);
  notice->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  notice->setMargin(6);

  const QString home = QString::fromStdString(ServiceHomePage());
  auto* link = new HyperlinkStatic(home, home, this);
  link->setObjectName(QStringLiteral("1123"));
  link->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setObjectName(QStringLiteral("1"));
  ok->setDefault(true);
  ok->setFocus();
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* text = new QVBoxLayout;
  text->addWidget(new QLabel(QStringLiteral("Vornic"), this));
  text->addWidget(version);
  text->addWidget(description);
  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addLayout(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(notice);
  layout->addWidget(link, 0, Qt::AlignLeft);
  layout->addWidget(buttons);
  setMinimumWidth(420);
}
