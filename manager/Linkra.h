#pragma once
// TLinkra: a label that looks like a link and opens its address through the desktop's handler
// for links when it is clicked.
#include <QColor>
#include <QLabel>

#include <cstdint>
#include <functional>
#include <string>

#include "archive/qrnGbls.h"

enum TProtocol : uint8_t { ptNONE, ptMAIL, ptWWW, ptFTP, ptFILE };
// The prefix that an address of each kind needs, by TProtocol.
extern const char* const ProtocolPrefixes[5];

enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, int32_t X, int32_t Y)>;

// Opening a link, behind a seam: the offscreen platform opens nothing, and tests record the
// address instead of starting a browser or a mail program.
using TUrlOpener = std::function<void(const std::string& url)>;
void SetUrlOpenerForTesting(TUrlOpener opener);
void OpenUrl(const std::string& url);  // result ignored

class TLinkra : public QLabel, public TObject {
  Q_OBJECT

 public:
  explicit TLinkra(QWidget* parent = nullptr);
  ~TLinkra() override;

  TProtocol Protocol() const { return FProtocol; }
  void SetProtocol(TProtocol value) { FProtocol = value; }
  const std::string& Url() const { return FUrl; }
  void SetUrl(const std::string& value) { FUrl = value; }
  QColor ActiveColor() const { return FActiveColor; }
  void SetActiveColor(const QColor& value) { FActiveColor = value; }
  std::string Caption() const { return text().toStdString(); }
  void SetCaption(const std::string& caption) { setText(QString::fromStdString(caption)); }
  QColor FontColor() const { return palette().color(QPalette::WindowText); }
  void SetFontColor(const QColor& color);

  // What a click opens: Url with its kind's prefix, unless Url already begins with it.
  std::string Address() const;

  // When enabled: fires OnClick, then opens Address().
  void Click();
  // Left button only, when enabled: the font takes ActiveColor while the button is down.
  void MouseDown(TMouseButton Button, int32_t X, int32_t Y);
  void MouseUp(TMouseButton Button, int32_t X, int32_t Y);

  TNotifyEvent OnClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  TProtocol FProtocol = ptMAIL;
  std::string FUrl;
  QColor FActiveColor;
  QColor FSavedColor;
  bool FClicked = false;
};
