#include "manager/Linkra.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

#include "platform/gui/application.h"

const char* const ProtocolPrefixes[5] = {"", "mailto:", "http://", "ftp://", "file:"};

namespace {

constexpr const char* kDefaultUrl = "tarvelo@example.com";

TUrlOpener& UrlOpener() {
  static TUrlOpener opener;
  return opener;
}

TMouseButton ButtonOf(Qt::MouseButton b) {
  if (b == Qt::RightButton) return mbRight;
  if (b == Qt::MiddleButton) return mbMiddle;
  return mbLeft;
}

}  // namespace

void SetUrlOpenerForTesting(TUrlOpener opener) { UrlOpener() = std::move(opener); }

void OpenUrl(const std::string& url) {
  if (UrlOpener()) return UrlOpener()(url);
  QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

TLinkra::TLinkra(QWidget* parent) : QLabel(parent), FActiveColor(128, 0, 128) {
  setCursor(Qt::PointingHandCursor);
  FUrl = kDefaultUrl;
  SetCaption(FUrl);
  QFont f = font();
  f.setPointSize(12);
  f.setUnderline(true);
  setFont(f);
  SetFontColor(Qt::blue);
  FSavedColor = FontColor();
}

TLinkra::~TLinkra() = default;

void TLinkra::SetFontColor(const QColor& color) {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, color);
  setPalette(p);
}

std::string TLinkra::Address() const {
  const std::string prefix = ProtocolPrefixes[FProtocol <= ptFILE ? FProtocol : ptNONE];
  // An empty prefix is never "found": the address then is Url as it stands either way.
  if (!prefix.empty() && FUrl.compare(0, prefix.size(), prefix) == 0) return FUrl;
  return prefix + FUrl;
}

void TLinkra::Click() {
  if (!isEnabled()) return;
  if (OnClick) OnClick(this);
  OpenUrl(Address());
}

void TLinkra::MouseDown(TMouseButton Button, int32_t X, int32_t Y) {
  if (!isEnabled() || Button != mbLeft) return;
  FSavedColor = FontColor();
  SetFontColor(FActiveColor);
  if (OnMouseDown) OnMouseDown(this, Button, X, Y);
}

void TLinkra::MouseUp(TMouseButton Button, int32_t X, int32_t Y) {
  if (!isEnabled() || Button != mbLeft) return;
  SetFontColor(FSavedColor);
  if (OnMouseUp) OnMouseUp(this, Button, X, Y);
}

void TLinkra::mousePressEvent(QMouseEvent* e) {
  e->accept();
  const QPoint at = e->position().toPoint();
  if (e->button() == Qt::LeftButton) FClicked = true;
  platform::RunGuarded([&] { MouseDown(ButtonOf(e->button()), at.x(), at.y()); });
}

void TLinkra::mouseReleaseEvent(QMouseEvent* e) {
  e->accept();
  const QPoint at = e->position().toPoint();
  // A click is a left press and release both over the label, as a push button has it.
  const bool click = e->button() == Qt::LeftButton && FClicked && rect().contains(at);
  if (e->button() == Qt::LeftButton) FClicked = false;
  // The colour comes back also when a click handler fails.
  if (click) platform::RunGuarded([this] { Click(); });
  platform::RunGuarded([&] { MouseUp(ButtonOf(e->button()), at.x(), at.y()); });
}
