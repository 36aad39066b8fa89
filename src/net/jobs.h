// Network jobs: a job filled on the UI thread runs on a detached worker that
// makes its one to four requests and posts a NetResult back as WM_NET_RESULT.
// At most one job runs at a time; sign-out runs on a thread of its own.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>
#include "net/job_records.h"

const UINT WM_NET_RESULT = WM_APP + 1;

// The window that receives WM_NET_RESULT; the main window sets it when it is
// created. Workers read it only at the moment they post.
extern std::atomic<HWND> netResultWindow;

// The requests of one job, made in order on the calling thread; the first
// failure ends the job. Fills a fresh result (ok, errorText, replies) and
// wipes the password slot in both the job and the result's copy.
NetResult* executeNetJob(NetJob& job);

// Set by the window before it gives any job: reads what it will apply of a
// successful result on the worker, so that a long list costs the window
// thread no parsing. It must leave the replies themselves as they are; what
// it throws is dropped and the result goes as it came.
extern std::atomic<void (*)(NetResult& result)> prepareNetResult;

// Thread body: executeNetJob, post the result to netResultWindow, free the job.
void runNetJob(NetJob* job);

// Starts a detached worker on the heap job. Returns false (and frees the job)
// when no thread could be started.
bool launchNetJobThread(NetJob* job);

// Test seam: called with each sign-in request body and reply buffer just
// before it is released, so tests can check that it holds only zero bytes.
extern void (*signInExchangeReleased)(const char* data, size_t size);

// Tells the server about a sign-out on a detached thread of its own; reports
// nothing back and swallows every failure.
void startSignOutRequest(const std::wstring& token, const std::wstring& serverUrl);
