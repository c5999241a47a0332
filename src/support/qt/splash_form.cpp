#include "support/qt/splash_form.h"

#include "support/product_info.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

namespace pelrow {

namespace {
constexpr const char* VersionFormat = "V%s build %s";
constexpr int PictureWidth = 310;
constexpr int PictureHeight = 128;
const QPoint VersionPlace(8, 113);

TSplashForm* CurrentSplashForm = nullptr;

// The connector face of the program's icon: a ring, a key notch and five pins.
void DrawConnector(QPainter& painter, QPointF centre, qreal radius) {
  painter.setPen(QPen(QColor(0xe8, 0xee, 0xf2), radius * 0.18));
  painter.setBrush(QColor(0x10, 0x23, 0x2f));
  painter.drawEllipse(centre, radius, radius);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xe8, 0xee, 0xf2));
  painter.drawRoundedRect(
      QRectF(centre.x() - radius * 0.24, centre.y() - radius * 1.1, radius * 0.48, radius * 0.27),
      2, 2);
  painter.setBrush(QColor(0xff, 0xd1, 0x66));
  const QPointF pins[] = {{-0.62, 0}, {0.62, 0}, {-0.44, 0.44}, {0.44, 0.44}, {0, 0.62}};
  for (const QPointF& pin : pins)
    painter.drawEllipse(centre + pin * radius, radius * 0.15, radius * 0.15);
}
} // namespace

QPixmap DrawSplashPicture() {
  QPixmap picture(PictureWidth, PictureHeight);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient back(0, 0, 0, PictureHeight);
  back.setColorAt(0, QColor(0x2f, 0x6f, 0x8f));
  back.setColorAt(1, QColor(0x14, 0x30, 0x42));
  painter.fillRect(picture.rect(), back);
  DrawConnector(painter, QPointF(56, 54), 34);

  painter.setPen(Qt::white);
  QFont title("DejaVu Sans", 30, QFont::Bold);
  title.setPixelSize(38);
  painter.setFont(title);
  painter.drawText(QRect(104, 14, 200, 48), Qt::AlignLeft | Qt::AlignVCenter, "Pelrow");
  QFont tagline("DejaVu Sans");
  tagline.setPixelSize(11);
  painter.setFont(tagline);
  painter.setPen(QColor(0xd0, 0xe0, 0xea));
  painter.drawText(QRect(106, 62, 200, 40), Qt::AlignLeft,
                   "System Exclusive messages\nand bulk dumps, sent and received");
  return picture;
}

TSplashForm::TSplashForm(const QPixmap& picture, const TTimerFactory& timers, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      FImage(new QLabel(this)), FVersion(new QLabel(this)), FTimer(timers()) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  FImage->setPixmap(picture);
  FImage->move(0, 0);
  FImage->adjustSize();
  if (picture.width() > 0 && picture.height() > 0)
    setFixedSize(picture.size());
  FVersion->setAttribute(Qt::WA_TranslucentBackground);
  FTimer->OnTimer = [this](TTimer&) { CloseSplash(); };
}

TSplashForm::~TSplashForm() {
  if (CurrentSplashForm == this)
    CurrentSplashForm = nullptr;
}

TSplashForm* TSplashForm::CurrentSplash() {
  return CurrentSplashForm;
}

void TSplashForm::ShowAtStartUp(bool isSecondInstance) {
  if (isSecondInstance)
    return;
  CurrentSplashForm = this;
  FStartUp = true;
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
  AfterSplashShown();
  show();
  repaint();
}

void TSplashForm::ShowAbout() {
  CurrentSplashForm = this;
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
  show();
  raise();
}

void TSplashForm::showEvent(QShowEvent* event) {
  if (FStartUp)
    FTimer->Start(SplashTimeMs);
  FVersion->setText(
      QString::asprintf(VersionFormat, ShortVersion().c_str(), BuildNumber().c_str()));
  FVersion->adjustSize();
  raise();
  QWidget::showEvent(event);
}

void TSplashForm::hideEvent(QHideEvent* event) {
  FStartUp = false;
  AfterSplashHidden();
  if (CurrentSplashForm == this)
    CurrentSplashForm = nullptr;
  QWidget::hideEvent(event);
}

void TSplashForm::mousePressEvent(QMouseEvent*) {
  CloseSplash();
}

void TSplashForm::CloseSplash() {
  FTimer->Stop();
  hide();
}

TSplashForm1::TSplashForm1(const TTimerFactory& timers, QWidget* parent)
    : TSplashForm(DrawSplashPicture(), timers, parent) {
  LVersion().move(VersionPlace);
  LVersion().setAlignment(Qt::AlignLeft);
  LVersion().setStyleSheet("color: white;");
}

} // namespace pelrow
