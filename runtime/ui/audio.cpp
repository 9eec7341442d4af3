#include "runtime/ui/audio.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>

#include <cstring>
#include <memory>

#include "runtime/ui/ui_logic.h"

namespace ui {

namespace {
uint32_t le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
}  // namespace

bool voiceFileSamples(const std::vector<uint8_t>& b, std::vector<int16_t>* samples, int* rate,
                      std::string* error) {
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
      std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
    *samples = decodeALaw(b);
    *rate = 8000;
    return true;
  }
  int format = 0, channels = 0, bits = 0;
  size_t pos = 12;
  while (pos + 8 <= b.size()) {
    const uint32_t size = le32(&b[pos + 4]);
    const size_t body = pos + 8;
    const size_t end = std::min(b.size(), body + size);
    if (!std::memcmp(&b[pos], "fmt ", 4) && end - body >= 16) {
      format = le16(&b[body]);
      channels = le16(&b[body + 2]);
      *rate = static_cast<int>(le32(&b[body + 4]));
      bits = le16(&b[body + 14]);
    } else if (!std::memcmp(&b[pos], "data", 4)) {
      if (channels != 1 || *rate <= 0) break;
      if (format == 6 && bits == 8) {
        *samples = decodeALaw(std::vector<uint8_t>(b.begin() + body, b.begin() + end));
        return true;
      }
      if (format == 1 && bits == 16) {
        samples->clear();
        for (size_t i = body; i + 1 < end; i += 2)
          samples->push_back(static_cast<int16_t>(le16(&b[i])));
        return true;
      }
      break;
    }
    pos = body + size + (size & 1);
  }
  *error = "不支持的声音文件格式";
  return false;
}

struct QtAudioOutput::Impl {
  std::unique_ptr<QAudioSink> sink;
  QByteArray bytes;
  QBuffer buffer;
  int rate = 8000;
};

QtAudioOutput::QtAudioOutput() : d_(new Impl) {}
QtAudioOutput::~QtAudioOutput() {
  stop();
  delete d_;
}

bool QtAudioOutput::start(std::vector<int16_t> samples, int rate, std::string* error) {
  stop();
  const QAudioDevice dev = QMediaDevices::defaultAudioOutput();
  if (dev.isNull()) {
    *error = "没有声音输出设备";
    return false;
  }
  QAudioFormat fmt;
  fmt.setSampleRate(rate);
  fmt.setChannelCount(1);
  fmt.setSampleFormat(QAudioFormat::Int16);
  d_->bytes = QByteArray(reinterpret_cast<const char*>(samples.data()),
                         static_cast<qsizetype>(samples.size() * sizeof(int16_t)));
  d_->buffer.setBuffer(&d_->bytes);
  d_->buffer.open(QIODevice::ReadOnly);
  d_->rate = rate;
  d_->sink = std::make_unique<QAudioSink>(dev, fmt);
  d_->sink->start(&d_->buffer);
  if (d_->sink->error() != QAudio::NoError) {
    *error = "声音输出设备无法播放";
    stop();
    return false;
  }
  return true;
}

void QtAudioOutput::stop() {
  if (d_->sink) d_->sink->stop();
  d_->sink.reset();
  d_->buffer.close();
}

bool QtAudioOutput::playing() const {
  return d_->sink && d_->sink->state() != QAudio::StoppedState &&
         !(d_->sink->state() == QAudio::IdleState && d_->buffer.atEnd());
}

int64_t QtAudioOutput::positionMs() const {
  return d_->sink ? d_->sink->processedUSecs() / 1000 : 0;
}

}  // namespace ui
