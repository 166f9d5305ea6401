#include "RecutThread.h"

RecutThread::RecutThread(QObject* parent) : QThread(parent) {
    qRegisterMetaType<std::vector<pelmora::ClipOutcome>>();
}

RecutThread::~RecutThread() {
    stopRequested = true;
    wait();
}

bool RecutThread::startCutting(const pelmora::ClipRequest& clips) {
    if (isRunning()) {
        return false;
    }
    request = clips;
    stopRequested = false;
    request.stopRequested = [this] { return stopRequested.load(); };
    start();
    return true;
}

void RecutThread::run() {
    emit clipsCut(pelmora::writeClips(request).clips);
}
