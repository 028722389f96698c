#include "SinkRecorder.h"

#include "Desktop.h"

#include <cstdlib>

SinkRecorder::~SinkRecorder()
{
    Stop();
}

bool SinkRecorder::Start(const QProcessEnvironment& environment, const QString& sink)
{
    Stop();
    m_recorder = std::make_unique<QProcess>();
    m_recorder->setProcessEnvironment(environment);
    m_recorder->setStandardErrorFile(QProcess::nullDevice());
    DieWithTest(*m_recorder);
    m_recorder->start(QStringLiteral("parec"),
                      {QStringLiteral("-d"), sink + QStringLiteral(".monitor"), QStringLiteral("--raw"),
                       QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                       QStringLiteral("--rate=%1").arg(kRate), QStringLiteral("--latency-msec=10")});
    if (!m_recorder->waitForStarted(5000))
        return false;
    QObject::connect(m_recorder.get(), &QProcess::readyReadStandardOutput, m_recorder.get(), [this] { Poll(); });
    Reset();
    return true;
}

void SinkRecorder::Stop()
{
    if (!m_recorder)
        return;
    m_recorder->disconnect();
    m_recorder->kill();
    m_recorder->waitForFinished(5000);
    m_recorder.reset();
}

void SinkRecorder::Reset()
{
    Poll();
    m_pending.clear();
    m_samples = 0;
    m_firstLoudMs = -1;
    m_lastLoudMs = -1;
    m_peak = 0;
    m_clock.start();
}

void SinkRecorder::Poll()
{
    if (!m_recorder)
        return;
    m_pending += m_recorder->readAllStandardOutput();
    const qsizetype samples = m_pending.size() / 2;
    const auto* data = reinterpret_cast<const unsigned char*>(m_pending.constData());
    bool loud = false;
    for (qsizetype i = 0; i < samples; ++i) {
        const auto value = static_cast<qint16>(static_cast<quint16>(data[2 * i] | (data[2 * i + 1] << 8)));
        const int level = std::abs(int(value));
        m_peak = qMax(m_peak, level);
        loud = loud || level > kThreshold;
    }
    m_samples += samples;
    m_pending.remove(0, samples * 2);
    if (loud) {
        m_lastLoudMs = m_clock.elapsed();
        if (m_firstLoudMs < 0)
            m_firstLoudMs = m_lastLoudMs;
    }
}
