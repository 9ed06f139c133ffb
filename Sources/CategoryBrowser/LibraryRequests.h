// The requests the category manager's processing half sets aside for the file worker, and the
// buffers lent with them (list texts, folder tables, graph starts' settings): fixed room, taken
// when an input arrives and given back when its job is settled. Nothing here allocates; an input
// that finds no room is refused by the caller.
#pragma once

#include "CategoryBrowser/LibraryWork.h"
#include "CategoryBrowser/RequestOrder.h"
#include "Common/PinText.h"

namespace prescat {

class LibraryRequests {
public:
    // Requests outstanding at once, and the lists, folder tables and settings on their way.
    static constexpr int kJobs = 128;
    static constexpr int kLists = 32;
    static constexpr int kFolderScans = 8;
    static constexpr int kStartups = 4;

    explicit LibraryRequests(LibraryWork& library)
    {
        for (LibraryJob& job : jobs_)
            job.library = &library;
    }

    // A free request of what for an input at entry with selectedFolder chosen, nothing lent with
    // it yet; nullptr when all are out.
    LibraryJob* take(LibraryJob::What what, int entry, int selectedFolder)
    {
        for (int i = 0; i < kJobs; ++i)
            if (!out_[i]) {
                LibraryJob& job = jobs_[i];
                job.request = LibraryJob::Request{};
                job.request.what = what;
                job.request.entry = entry;
                job.request.selectedFolder = selectedFolder;
                job.list = nullptr;
                job.folders = nullptr;
                job.startup = nullptr;
                return &job;
            }
        return nullptr;
    }

    // job went to the worker: it stays out until given back.
    void submitted(const LibraryJob& job) { out_[&job - jobs_] = true; }

    // job came back: it and what was lent with it are free again.
    void giveBack(LibraryJob& job)
    {
        out_[&job - jobs_] = false;
        lists.giveBack(job.list);
        scans.giveBack(job.folders);
        startups.giveBack(job.startup);
        job.list = nullptr;
        job.folders = nullptr;
        job.startup = nullptr;
    }

    Lent<ListText, kLists> lists;
    Lent<FolderTable, kFolderScans> scans;
    Lent<pin_text::FileSettings, kStartups> startups;

private:
    LibraryJob jobs_[kJobs];
    bool out_[kJobs] = {};
};

} // namespace prescat
