#pragma once

// The lot of the window's open job, counted in the line database as koru-cli counts it, so the
// window, a gang and other PCs share one quota: a chip of a job with a quota takes its place in
// the lot before any traffic, and the place counts once the chip's record says passed (after
// the record went to the database); a chip refused by a full lot sends nothing. The database
// work is the line station's; a build without the line database refuses a job with a quota.

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace koru {

struct WindowLotChoice {
    std::string name;  // the lot
    std::string job;
    std::string checksum;  // the job's, whole
    std::uint64_t quota = 0;
};

class WindowLot {
  public:
    WindowLot();
    ~WindowLot();
    WindowLot(const WindowLot&) = delete;
    WindowLot& operator=(const WindowLot&) = delete;

    // The lot of the job now open; nothing: no job, or one without a quota.
    void Use(std::optional<WindowLotChoice> lot);
    // Before a chip, on the window's thread: its place in the lot (a place this window still
    // holds from a run that wrote no record is used again). False with the reason for people.
    bool TakePlace(const std::string& port, std::string& refusal);
    // After the chip's record went to the database, on the worker: the place counts when the
    // chip passed, else it goes back. What the status line adds ("本批 N/Q", "本批已完成 Q/Q
    // ..."); empty without a place.
    std::string Finish(bool passed);
    // "本批 NAME N/Q" as last counted; empty without a lot.
    QString TitleText() const;

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace koru
