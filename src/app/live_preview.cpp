#include "app/live_preview.h"

#include "raster/parallel.h"

#include <new>

namespace plumora {

LivePreview::LivePreview(Document& document, QObject* parent)
    : QObject(parent), m_document(document), m_worker([this] { work(); })
{}

LivePreview::~LivePreview()
{
    {
        std::unique_lock lock(m_mutex);
        m_stop = true;
        stopComputing(lock);
    }
    m_wake.notify_all();
    m_worker.join();
}

void LivePreview::request(const EffectDeclaration& effect, const ParamValues& values)
{
    // Made here, on the GUI thread: the job holds the source picture and
    // what the effects keep, so the worker never reads the document.
    Document::EffectJob job = m_document.prepareEffect(effect, values);
    const std::uint64_t number = ++m_requests;
    m_latestEffect = &effect;
    m_latestValues = values;
    m_latestVersion = job.version;
    {
        std::unique_lock lock(m_mutex);
        stopComputing(lock);
        m_pending.emplace(number, std::move(job));
    }
    m_wake.notify_one();
}

void LivePreview::stopComputing(std::unique_lock<std::mutex>&)
{
    // The computation stops at its next band; one not begun never begins.
    if (m_cancel)
        m_cancel->store(true);
    if (m_pending) {
        m_lastEnded = std::max(m_lastEnded, m_pending->first);
        m_pending.reset();
        ++m_cancelled;
    }
}

void LivePreview::clear()
{
    m_clearedUpTo = m_requests;
    m_latestEffect = nullptr;
    {
        std::unique_lock lock(m_mutex);
        stopComputing(lock);
        m_finished.reset();
    }
    if (m_shown) {
        m_shown.reset();
        emit pictureChanged();
    }
}

void LivePreview::clearIfStale()
{
    const std::uint64_t now = m_document.pictureVersion();
    const bool shownStale = m_shown && m_shown->version != now;
    const bool requestStale = m_requests > m_clearedUpTo && m_latestVersion != now;
    if (shownStale || requestStale)
        clear();
}

const TBitmap32* LivePreview::picture() const
{
    if (!m_shown || m_shown->version != m_document.pictureVersion())
        return nullptr;
    return &m_shown->run->result;
}

int LivePreview::cancelledCount() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

void LivePreview::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_pending; });
        if (m_stop)
            return;
        auto [number, job] = std::move(*m_pending);
        m_pending.reset();
        auto cancel = std::make_shared<std::atomic<bool>>(false);
        m_cancel = cancel;
        m_computing = number;
        lock.unlock();

        Result result{number, job.version, job.effect, job.values, std::nullopt, {}};
        bool stopped = false;
        try {
            // The bands check the flag, so a newer request stops this one
            // within a band; the job's own pictures keep it safe meanwhile.
            const CancelScope scope(*cancel);
            result.run = m_document.runPrepared(job);
        } catch (const Cancelled&) {
            stopped = true;
        } catch (const std::bad_alloc&) {
            result.error = "There is not enough memory to preview the effect.";
        } catch (const std::exception& e) {
            result.error = e.what();
        }
        // The job's source picture goes before anything else can change
        // hands: the document may then reuse the memory of its pictures.
        job = {};

        lock.lock();
        m_cancel.reset();
        m_computing = 0;
        m_lastEnded = std::max(m_lastEnded, number);
        if (stopped) {
            ++m_cancelled;
        } else {
            m_finished = std::move(result);
            QMetaObject::invokeMethod(this, &LivePreview::deliver, Qt::QueuedConnection);
        }
        m_ended.notify_all();
    }
}

void LivePreview::deliver()
{
    std::optional<Result> result;
    {
        std::lock_guard lock(m_mutex);
        result.swap(m_finished);
    }
    // Taken by an apply, or cleared, meanwhile.
    if (!result)
        return;
    ++m_finishedCount;
    // Shown when it is newer than what is shown and the document is still
    // the one it was computed from; an older request that ended before the
    // newer one could stop it is still shown, so that a slider dragged on
    // and on keeps showing where it has been.
    if (result->request <= m_clearedUpTo || result->version != m_document.pictureVersion() ||
        (m_shown && result->request < m_shown->request))
        return;
    if (!result->run) {
        const QString message = QString::fromStdString(result->error);
        const bool wasShown = m_shown.has_value();
        m_shown.reset();
        if (wasShown)
            emit pictureChanged();
        emit failed(message);
        return;
    }
    m_shown = std::move(result);
    emit pictureChanged();
}

bool LivePreview::isCurrent(const Result& result, const EffectDeclaration& effect, const ParamValues& values) const
{
    return result.run && result.effect == &effect && result.values == values &&
           result.version == m_document.pictureVersion();
}

std::optional<Document::EffectRun> LivePreview::take(const EffectDeclaration& effect, const ParamValues& values,
                                                     const Waiter& wait)
{
    const std::uint64_t latest = m_requests;
    const bool latestMatches = m_latestEffect == &effect && m_latestValues == values &&
                               m_latestVersion == m_document.pictureVersion() && latest > m_clearedUpTo;
    if (latestMatches) {
        // Still computing: waited for, as the apply's own computing would be.
        bool ended = false;
        {
            std::lock_guard lock(m_mutex);
            ended = m_lastEnded >= latest;
        }
        if (!ended) {
            try {
                wait([&] {
                    std::unique_lock lock(m_mutex);
                    // Woken every few milliseconds to see whether the wait
                    // itself was cancelled (Esc).
                    while (m_lastEnded < latest) {
                        m_ended.wait_for(lock, std::chrono::milliseconds(5));
                        try {
                            throwIfCancelled();
                        } catch (const Cancelled&) {
                            // The computation stops as soon as the wait does.
                            stopComputing(lock);
                            throw;
                        }
                    }
                });
            } catch (...) {
                clear();
                throw;
            }
        }
        std::optional<Document::EffectRun> run;
        if (m_shown && m_shown->request == latest && isCurrent(*m_shown, effect, values)) {
            run = std::move(m_shown->run);
        } else {
            std::lock_guard lock(m_mutex);
            if (m_finished && m_finished->request == latest && isCurrent(*m_finished, effect, values))
                run = std::move(m_finished->run);
        }
        if (run) {
            // The document shows it from now on, as its own picture: the
            // view lets go of this one at once.
            const bool wasShown = m_shown.has_value();
            m_shown.reset();
            {
                std::lock_guard lock(m_mutex);
                m_finished.reset();
            }
            m_clearedUpTo = m_requests;
            m_latestEffect = nullptr;
            if (wasShown)
                emit pictureChanged();
            return run;
        }
    }
    // Other values: what is computing is of no use any more, and would only
    // slow the apply down.
    clear();
    return std::nullopt;
}

}  // namespace plumora
