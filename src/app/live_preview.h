#pragma once

#include "document/document.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace plumora {

// Shows what an effect window's values would make before the user keeps it:
// each request computes the effect from the document's source picture on a
// thread of its own, exactly as the window's apply button would, and the
// main window shows the result in place of the displayed picture. The
// document is never changed: no history step, no label, no flag, and what
// the effects keep (brume's generator) moves on only when an apply commits.
//
// A newer request stops the one still computing at its next band, so the
// view follows the hand rather than a queue of old values. A result that
// comes back after the document changed (an apply, an undo, a turn, ...) is
// never shown. An apply with the values of the preview takes the preview's
// run instead of computing it again.
//
// Requests, results and the signal are on the thread that made the object
// (the GUI thread); only the computing is elsewhere.
class LivePreview : public QObject {
    Q_OBJECT
public:
    explicit LivePreview(Document& document, QObject* parent = nullptr);
    ~LivePreview() override;
    LivePreview(const LivePreview&) = delete;
    LivePreview& operator=(const LivePreview&) = delete;

    // Computes effect with values from the document as it is now.
    void request(const EffectDeclaration& effect, const ParamValues& values);
    // Takes the preview away and stops whatever is computing.
    void clear();
    // The same when what is shown or computing was made from pictures the
    // document no longer holds (zooming or a label changes nothing here).
    void clearIfStale();

    // The picture to show instead of the document's displayed picture, or
    // nullptr when there is none for the document as it is now.
    const TBitmap32* picture() const;

    // For an apply button: the run of the latest request when it was made
    // with exactly these values on the document as it is now, waiting for it
    // through wait when it is still computing (wait runs its argument and
    // may throw Cancelled, which stops the computation too). Nothing when
    // there is no such run, or it failed: the caller computes it then, and
    // reports the failure as an apply does.
    using Waiter = std::function<void(const std::function<void()>&)>;
    std::optional<Document::EffectRun> take(const EffectDeclaration& effect, const ParamValues& values,
                                            const Waiter& wait);

    // How many results have been computed to the end (shown or not) and how
    // many were stopped by a newer request or a clear: for tests.
    int finishedCount() const { return m_finishedCount; }
    int cancelledCount() const;
    // Whether the picture shown is the newest request's.
    bool showsLatest() const { return m_shown && m_shown->request == m_requests && picture(); }

signals:
    // The picture to show changed: a preview came, or was taken away.
    void pictureChanged();
    // A request could not be computed (a picture too small for the effect,
    // not enough memory): the preview is taken away and this says why.
    void failed(const QString& message);

private:
    struct Result {
        std::uint64_t request = 0;
        std::uint64_t version = 0;
        const EffectDeclaration* effect = nullptr;
        ParamValues values;
        std::optional<Document::EffectRun> run;
        std::string error;
    };
    void work();
    // On the GUI thread, after the worker finished a request.
    void deliver();
    bool isCurrent(const Result& result, const EffectDeclaration& effect, const ParamValues& values) const;
    void stopComputing(std::unique_lock<std::mutex>& lock);

    Document& m_document;
    std::uint64_t m_requests = 0;     // requests made, the newest's number
    std::uint64_t m_clearedUpTo = 0;  // requests up to this one are not shown
    // The newest request's effect, values and document version, for take().
    const EffectDeclaration* m_latestEffect = nullptr;
    ParamValues m_latestValues;
    std::uint64_t m_latestVersion = 0;
    std::optional<Result> m_shown;  // GUI thread only
    int m_finishedCount = 0;        // GUI thread only

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;   // a request, or the end
    std::condition_variable m_ended;  // a computation ended, one way or another
    std::optional<std::pair<std::uint64_t, Document::EffectJob>> m_pending;
    std::uint64_t m_computing = 0;  // the request being computed; 0 for none
    std::uint64_t m_lastEnded = 0;  // the last request that ended
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::optional<Result> m_finished;  // not yet delivered
    int m_cancelled = 0;
    bool m_stop = false;
    std::thread m_worker;
};

}  // namespace plumora
