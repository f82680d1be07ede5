#include "CameraSession.h"

#include <utility>

namespace {

// A preview that has composed nothing for this long says so (the first composite may take
// longer: the camera opens, and a Direct3D device is made); the pause between starts
// while a refusing camera is waited for.
constexpr ULONGLONG kFirstFrameLimitMs = 6000;
constexpr ULONGLONG kRetryMs = 2000;

std::wstring Widen(const char* text)
{
  std::wstring wide;
  for (; *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return wide;
}

TRemoveBackgroundColorType ColorType(TKeyChoice keying)
{
  return keying == TKeyChoice::Blue ? rbcBlue : keying == TKeyChoice::Custom ? rbcCustom : rbcGreen;
}

}  // namespace

TCameraSession::TCameraSession(HWND window, UINT frameMessage, unsigned long long keepNumber)
    : window_(window), frameMessage_(frameMessage), mailbox_(keepNumber)
{
}

TCameraSession::~TCameraSession()
{
  Stop();
}

bool TCameraSession::OnComposite(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels,
                                 void* context)
{
  auto* session = static_cast<TCameraSession*>(context);
  try {
    if (session->mailbox_.Put(width, height, pitch, pixels))
      PostMessageW(session->window_, session->frameMessage_, 0, 0);
  } catch (...) {
    // No memory for the copy: this composite is not shown; nothing goes back to the library.
  }
  return true;
}

void TCameraSession::Start(const TPreviewSettings& settings)
{
  Stop();
  settings_ = settings;
  reason_.clear();
  if (settings_.link.empty()) return;
  Launch();
}

void TCameraSession::Stop()
{
  if (preview_) preview_->StopPreview();  // no composite arrives after this
  state_ = TSessionState::NoCamera;
  retryAt_ = 0;
  frameRate_ = 0.0;
}

void TCameraSession::SetReconnect(bool on)
{
  reconnect_ = on;
  if (preview_) preview_->SetAutoReconnect(on);
}

void TCameraSession::Launch()
{
  if (!preview_ || (keyed_ && settings_.keying == TKeyChoice::Off)) {
    preview_.reset(new TPictorD3D9Preview);
    keyed_ = false;
  }
  preview_->SetAutoReconnect(reconnect_);
  preview_->SetRenderer(settings_.direct3D ? prDirect3D9 : prSoftware);
  preview_->SetConversion(settings_.builtInConversion ? pcBuiltIn : pcSystemConverter);
  preview_->SetSpillSuppression(settings_.spill);
  preview_->SetEdgeChoke(static_cast<unsigned int>(settings_.choke));
  ApplyBackground();
  TPictorD3D9PreviewChromaKeyingParams keying(settings_.sensitivity, settings_.smoothing,
                                              static_cast<unsigned char>(settings_.opacity),
                                              ColorType(settings_.keying), settings_.keyColor);
  ApplyKeyingMode(TKeyChoice::Off);
  const bool keyed = settings_.keying != TKeyChoice::Off;
  keyed_ |= keyed;
  state_ = TSessionState::Starting;
  reason_.clear();
  retryAt_ = 0;
  startTick_ = GetTickCount64();
  startDelivered_ = mailbox_.Delivered();
  if (!preview_->StartPreview(settings_.link.c_str(), settings_.formatIndex, true, nullptr, keyed ? &keying : nullptr,
                              OnComposite, this))
    Tick();  // a camera that refused the start has left its reason in the status
}

void TCameraSession::ApplyKeying()
{
  if (!preview_ || settings_.keying == TKeyChoice::Off) return;
  keyed_ = true;
  preview_->SetChromaKeyingColor(ColorType(settings_.keying), settings_.keyColor);
  preview_->SetSensitivity(settings_.sensitivity);
  preview_->SetSmoothing(settings_.smoothing);
  preview_->SetOpacity(static_cast<unsigned char>(settings_.opacity));
}

void TCameraSession::ApplyKeyingMode(TKeyChoice fallback)
{
  if (!preview_) return;
  const bool person = settings_.keying == TKeyChoice::Person;
  personRefused_ = person && !preview_->SetKeyingMode(kmPerson);
  if (!person) preview_->SetKeyingMode(kmColor);
  // The runtime or model is not beside Pictor.dll (the log says which).
  if (personRefused_) settings_.keying = fallback;
}

void TCameraSession::ApplyBackground()
{
  if (!preview_) return;
  const TImage* image = settings_.background.get();
  if (!image) {
    preview_->SetBackground(nullptr);
    return;
  }
  // The preview copies the pixels; it never writes through the pointer.
  TPictorD3D9PreviewImage record(image->Width, image->Height, image->Width * 4,
                                 const_cast<unsigned char*>(image->Pixels.data()), true);
  preview_->SetBackground(&record);
}

void TCameraSession::SetKeying(TKeyChoice keying, unsigned int keyColor)
{
  const bool restart = keying == TKeyChoice::Off && settings_.keying != TKeyChoice::Off && preview_;
  const TKeyChoice previous = settings_.keying;
  settings_.keying = keying;
  settings_.keyColor = keyColor;
  if (restart) {
    preview_->StopPreview();
    Launch();
  } else {
    ApplyKeyingMode(previous);
    ApplyKeying();
  }
}

void TCameraSession::SetSensitivity(float value)
{
  settings_.sensitivity = value;
  ApplyKeying();
}

void TCameraSession::SetSmoothing(float value)
{
  settings_.smoothing = value;
  ApplyKeying();
}

void TCameraSession::SetOpacity(int value)
{
  settings_.opacity = value;
  ApplyKeying();
}

void TCameraSession::SetSpill(float value)
{
  settings_.spill = value;
  if (preview_) preview_->SetSpillSuppression(value);
}

void TCameraSession::SetChoke(int value)
{
  settings_.choke = value;
  if (preview_) preview_->SetEdgeChoke(static_cast<unsigned int>(value));
}

void TCameraSession::SetBackground(std::shared_ptr<const TImage> background)
{
  settings_.background = std::move(background);
  ApplyBackground();
}

bool TCameraSession::SampleKeyColor(unsigned int* color)
{
  return preview_ && preview_->SampleKeyColor(color);
}

void TCameraSession::Tick()
{
  if (!preview_ || state_ == TSessionState::NoCamera) return;
  const ULONGLONG now = GetTickCount64();
  if (state_ == TSessionState::Ended || (state_ == TSessionState::Reconnecting && retryAt_)) {
    if (reconnect_ && now >= retryAt_) Launch();
    return;
  }
  TPictorCaptureStatusEx status = {};
  status.Size = sizeof status;
  if (!preview_->GetCaptureStatusEx(&status)) return;
  frameRate_ = status.FrameRate;
  framesDropped_ = status.FramesDropped;
  switch (status.State) {
    case PICTOR_CAPTURE_RUNNING:
      if (mailbox_.Delivered() != startDelivered_) {
        state_ = TSessionState::Running;
        reason_.clear();
      } else if (now - startTick_ > kFirstFrameLimitMs) {
        reason_ = L"No picture from the camera yet.";
      }
      break;
    case PICTOR_CAPTURE_RECONNECTING:  // the preview waits for the camera itself
      state_ = TSessionState::Reconnecting;
      reason_ = Widen(PictorDescribeResult(status.Error));
      break;
    case PICTOR_CAPTURE_ENDED:
      preview_->StopPreview();
      Wait(Widen(PictorDescribeResult(status.Error)));
      break;
    default:  // a start that failed for a reason of the library's: its log says why
      Wait(L"The camera could not be started.");
      break;
  }
}

void TCameraSession::CamerasChanged(bool present)
{
  // A camera whose start was refused may work now that it is back.
  if (present && retryAt_) retryAt_ = GetTickCount64();
}

void TCameraSession::Wait(const std::wstring& reason)
{
  reason_ = reason;
  frameRate_ = 0.0;
  state_ = reconnect_ ? TSessionState::Reconnecting : TSessionState::Ended;
  retryAt_ = GetTickCount64() + kRetryMs;
}
