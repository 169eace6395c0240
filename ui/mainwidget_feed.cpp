// The panadapter, meter and filter-view feed: each spectrum frame onto the
// panadapter and the meters, the CI-V scope trace, and the panadapter's and
// filter view's settings kept in step with the store.
#include "ui/mainwidget.h"
#include "ui_mainwidget.h"

#include "app/zlog.h"
#include "civ/civdevice.h"
#include "civ/civdeviceadmin.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "spectrum/zscopegl.h"
#include "ui/xyplot.h"
#include "ui/zbarmeter.h"
#include "ui/zdrawscope.h"
#include "ui/zfeed.h"
#include "ui/ztwinfilterwidget.h"

#include <QPushButton>

#include <algorithm>

namespace {
const QString kW = QStringLiteral("wparam");

// The real pass-band edges of the current twin filter (Hz): low and high
// of pass band 1, then of pass band 2. The peak search is kept inside them.
int g_realEdges[4] = {300, 3000, 300, 3000};
} // namespace

void MainWidget::spectrumInit()
{
    m_scope = new ZScopeGL(this, 0, 176, 800, 250);
    m_scope->setObjectName(QStringLiteral("panadapter"));
    m_scopeRect = m_scope->geometry();
    QList<float> vGrid;
    for (int i = 1; i <= 9; ++i)
        vGrid << float(i * 800) / 10.0f;
    m_scope->setVerticalGrid(vGrid);
    QList<float> hGrid;
    for (int j = 1; j <= 4; ++j)
        hGrid << float(j * m_scope->spectrumHeight()) / 5.0f;
    m_scope->setHorizontalGrid(hGrid);
    m_scope->setDivisions(hGrid.size() + 2);
    g_realEdges[0] = g_realEdges[2] = 300;
    g_realEdges[1] = g_realEdges[3] = 3000;
}

void MainWidget::feedSpectrumFrame(const float *mag, int count)
{
    if (!mag || count <= 0 || !m_store)
        return;
    m_disp.dataFlag = 1;
    const bool tx = m_disp.trx == 1;

    // 1, 2. While transmitting the spectrum is shown with fewer points
    // (except at span exponent 1).
    int n = count;
    if (tx && m_fftDec != 1)
        n = count >> qBound(0, m_fftDec, 4);
    n = qMax(1, n);
    m_trace.resize(n);
    zfeed_resample_cubic(mag, count, m_trace.data(), n);

    QString status;
    if (tx) {
        // 3. Power, ALC and SWR.
        const float alc = zradio_get_report_alclevel();
        const float swrRaw = zradio_get_report_vswr();
        m_power = m_alphaP * double(zradio_get_report_txpower()) + (1.0 - m_alphaP) * m_power;
        status = QString::asprintf("PWR:%.1fW\r\nALC:%-3d", m_power, int(alc));
        m_sMeter->setValue(int(m_power * 100.0 / 10.0));
        const double swr = double(swrRaw) * 0.1;
        m_swr = m_alphaS * swr + (1.0 - m_alphaS) * m_swr;
        m_swrMeter->setValue(int((m_swr - 1.0) * 24.0));
        m_store->signalLevel.store(0.0f);
        m_store->fwdPower.store(float(m_power));
        m_store->swr.store(float(swr));
        m_store->alcLevel.store(alc);
        if (m_swrPostPending) {
            m_swrPostPending = false;
            emit sig_postSwrValue(float(m_swr));
        }
    } else {
        // 4. Signal level.
        m_level = zradio_getfftpeak(m_radio) + 7.0f;
        status = QString::asprintf("%04ddBm", int(m_level));
        const float lc = qBound(-123.0f, m_level, -13.0f);
        m_store->signalLevel.store(lc);
        m_sMeter->setValue(int((lc + 123.0f) * 100.0f / 110.0f));
        m_swrMeter->setValue(0);
        m_store->fwdPower.store(0.0f);
        m_store->alcLevel.store(0.0f);
        m_power = 0.0;
    }

    // 5. Panadapter and meters.
    m_scope->setStatusText(status);
    m_scope->setSamples(m_trace);
    m_scope->replot();
    m_sMeter->replot();
    m_swrMeter->replot();

    // 6. The CI-V scope trace.
    if (!m_trace.isEmpty()) {
        if (m_civTrace.size() != ZFEED_CIV_POINTS)
            m_civTrace.resize(ZFEED_CIV_POINTS);
        zfeed_civ_trace(m_trace.constData(), m_trace.size(), m_civTrace.data());
        if (m_civAdmin && m_civAdmin->device())
            m_civAdmin->device()->slot_scopeDataReceiver(m_civTrace);
    }
}

// A new front frequency moves the digital offset: the panadapter's tuning
// line and the peak search follow it.
void MainWidget::frontFrequencyChanged()
{
    m_fftDec = m_store->paramItem(kW, QStringLiteral("fftdec")).value.toInt();
    const int centre = m_store->paramItem(kW, QStringLiteral("center_mode")).value.toInt();
    m_disp.centerMode = uint8_t(centre);
    m_scope->setCenterMode(centre != 0);
    m_scope->setTuningOffset(float(m_store->dloFreq.load()));
    // The span itself only when it changed: the radio link logs every
    // setting, and a turning dial changes the frequency 20 times a second.
    if (m_fftDec != m_pushedFftDec && m_fftDec >= 0 && m_fftDec <= 4) {
        zradio_set_fft_dec(m_fftDec);
        m_pushedFftDec = m_fftDec;
    }
    updateFftSearchEdge();
}

void MainWidget::updateFftSearchEdge()
{
    zradio_t *radio = g_zradio;
    if (!radio || !radio->param)
        return;
    float low = float(qMax(g_realEdges[0], g_realEdges[2]));
    float high = float(qMin(g_realEdges[1], g_realEdges[3]));
    if (radio->param->paramItem(kW, QStringLiteral("center_mode")).value.toInt() == 0) {
        const float tone = float(radio->param->paramItem(kW, QStringLiteral("cwtone")).value.toInt());
        low -= tone;
        high -= tone;
    }
    zradio_set_fftpeak_search_border(low, high);
}

void MainWidget::updateFilterAndScope(bool trxChanged)
{
    ZParamAdmin *s = m_store;
    disp_item_t &d = m_disp;
    bool filterChanged = false;

    // 1. CW pitch: the CW filters are defined for 800 Hz.
    const int cwtone = s->paramItem(kW, QStringLiteral("cwtone")).value.toInt();
    if (cwtone != d.cwtone) {
        d.cwtone = cwtone;
        s->setTwinFilterGroupOffset(4, float(cwtone - 800));
        filterChanged = true;
        m_scopeSettingsChanged = true;
    }
    if (m_modeChanged) {
        // A new front mode selects another filter.
        m_modeChanged = false;
        filterChanged = true;
        m_scopeSettingsChanged = true;
    }

    // 2. The current twin filter against the cache.
    const ztwinfilter_t f = s->twinFilter();
    filter_cache_t &c = m_filterCache;
    if (!c.valid || c.fp1Low != f.fp1.low || c.fp1High != f.fp1.high || c.fp2Low != f.fp2.low
        || c.fp2High != f.fp2.high || c.limLow != f.limits.low || c.limHigh != f.limits.high
        || c.index != f.index || c.name != f.name) {
        c.valid = true;
        c.fp1Low = f.fp1.low;
        c.fp1High = f.fp1.high;
        c.fp2Low = f.fp2.low;
        c.fp2High = f.fp2.high;
        c.limLow = f.limits.low;
        c.limHigh = f.limits.high;
        c.index = f.index;
        c.name = f.name;
        filterChanged = true;
    }

    // 3. The filter view, the real edges and the front line.
    if (filterChanged) {
        m_filterView->setEditedBand(f.index);
        if (f.name == QLatin1String("CW")) {
            const float o = f.offset;
            m_filterView->setRange(f.center - 600.0f + o, f.center + 600.0f + o);
            m_filterView->setPassBands({f.fp1.low + o, f.fp1.high + o}, {f.fp2.low + o, f.fp2.high + o});
        } else {
            m_filterView->setRange(f.limits.low, f.limits.high);
            m_filterView->setPassBands(f.fp1, f.fp2);
        }
        const QString name = QStringLiteral("FIL%1").arg(s->twinFilterGroupIndex() + 1);
        m_filterView->setName(name);
        m_filterView->update();
        const ztwinfilter_fp_t r1 = s->logicFpToRealFp(f.fp1);
        const ztwinfilter_fp_t r2 = s->logicFpToRealFp(f.fp2);
        g_realEdges[0] = int(r1.low);
        g_realEdges[1] = int(r1.high);
        g_realEdges[2] = int(r2.low);
        g_realEdges[3] = int(r2.high);
        if (ui->pushButton_frontFilter->text() != name)
            ui->pushButton_frontFilter->setText(name);
        emit sig_updateFilter();
        m_scopeSettingsChanged = true;
    }

    // 4. Span, peak hold, audio area and the pass band on the panadapter.
    const int fftdec = s->paramItem(kW, QStringLiteral("fftdec")).value.toInt();
    const int fftpke = s->paramItem(kW, QStringLiteral("fftpke")).value.toInt();
    const uint8_t audio = uint8_t(s->paramItem(kW, QStringLiteral("audio_scope")).value.toInt());
    if (fftdec == d.fftdec && fftpke == d.fftpke && audio == d.audioScope && !m_scopeSettingsChanged
        && !trxChanged)
        return;
    m_scopeSettingsChanged = false;
    d.fftdec = fftdec;
    d.fftpke = fftpke;
    d.audioScope = audio;
    m_fftDec = qBound(0, fftdec, 4);
    applyAudioArea(audio != 0);
    m_scope->setZoom(float(1 << m_fftDec));
    m_scope->setPeakHold(fftpke != 0);
    int mode;
    ztwinfilter_t tf;
    float offset;
    if (d.trx == 1 && m_split == 1 && d.atuTuning == 0) {
        // Transmitting in split: the transmitting VFO's filter.
        mode = s->vfoBack(QStringLiteral("mode")).value.toInt();
        tf = s->twinFilter(mode);
        offset = float(s->offsetFrequency(mode));
    } else {
        mode = s->mode();
        tf = f;
        offset = float(s->offsetFrequency());
    }
    Q_UNUSED(offset); // the panadapter draws the pass band around the tuning line
    m_scope->setMode(mode);
    m_scope->setPassBand(qMax(tf.fp1.low, tf.fp2.low), qMin(tf.fp1.high, tf.fp2.high));
    m_scope->replot();
    if (m_fftDec != m_pushedFftDec) {
        zradio_set_fft_dec(m_fftDec);
        m_pushedFftDec = m_fftDec;
    }
    updateFftSearchEdge();
}

// The audio area at the right of the panadapter: the panadapter gives up
// its right quarter to the audio spectrum and the waveform.
void MainWidget::applyAudioArea(bool on)
{
    if (m_modemLayout)
        return;
    if (on) {
        if (m_scope->width() != 600)
            m_scope->setGeometry(m_scopeRect.x(), m_scopeRect.y(), 600, m_scopeRect.height());
        m_audioScope->setGeometry(m_audioScopeRect);
        m_audioScope->show();
        m_xyPlot->show();
    } else {
        if (m_scope->geometry() != m_scopeRect)
            m_scope->setGeometry(m_scopeRect);
        m_audioScope->hide();
        m_xyPlot->hide();
    }
}

void MainWidget::enterModemLayout()
{
    if (m_modemLayout)
        return;
    m_modemLayout = true;
    const int h = int(m_scopeRect.height() * 0.35);
    m_scope->setGeometry(m_scopeRect.x(), m_scopeRect.y(), 600, h);
    m_scope->setFftHeightRatio(0.65f);
    QFont f(QStringLiteral("Bahnschrift SemiBold SemiConden"), 10);
    m_scope->setLabelFont(f);
    // The audio spectrum beside it, as high as the panadapter now is, also
    // when the audio area is off: the modems' markers are drawn on it.
    m_audioScope->setGeometry(m_scopeRect.x() + 600, m_scopeRect.y(), m_audioScopeRect.width(), h);
    m_audioScope->show();
    m_xyPlot->hide();
}

void MainWidget::leaveModemLayout()
{
    if (!m_modemLayout)
        return;
    m_modemLayout = false;
    m_scope->setFftHeightRatio(0.5f);
    QFont f(QStringLiteral("Bahnschrift SemiBold SemiConden"), 12);
    m_scope->setLabelFont(f);
    m_scope->setGeometry(m_scopeRect);
    m_audioScope->setGeometry(m_audioScopeRect);
    applyAudioArea(m_disp.audioScope == 1);
}

void MainWidget::slot_audioFFTReady(float *mag, int32_t len)
{
    if (!mag || len <= 0)
        return;
    m_audioBuf.resize(len);
    std::copy(mag, mag + len, m_audioBuf.begin());
    m_audioScope->setSamples(m_audioBuf);
    if (m_audioScope->isVisible())
        m_audioScope->replot();
}

void MainWidget::slot_audioSamReady(float *ptr, int32_t len)
{
    if (!ptr || len <= 0)
        return;
    QVector<float> v(len);
    std::copy(ptr, ptr + len, v.begin());
    m_xyPlot->setSamples(v);
    if (m_xyPlot->isVisible())
        m_xyPlot->update();
}
