// The media source a capture's reader is made over: it stands between the source reader and
// the camera's source so that the library sees the camera's failures itself.
//
// A failed sample request and an MEError event on the source or on a stream are reported
// to the session's read callback (TReadCallback::Fault), which answers the outstanding
// read, or the next one, with that status. Windows' reader answers both with a failed
// read of its own; Wine 8.0's asynchronous reader drops a failed request without an
// answer and ignores MEError on a stream, so there a failing camera would look like a
// stalled one. Whichever answer comes first is the read's; the second is dropped.
//
// Every call is forwarded to the camera's source and its streams. The stream objects the
// source announces (MENewStream, MEUpdatedStream) are handed to the reader wrapped the same
// way, and a wrapped stream names the wrapping source as its source. The async state the
// reader gives BeginGetEvent is passed on untouched, so the reader ends each event wait on
// the wrapper it began it on. References run one way only: reader -> stream wrapper ->
// source wrapper -> camera source, each wrapper also holding its camera object and the
// callback; everything goes with the reader.
#pragma once

#include <windows.h>
#include <mfidl.h>

#include "media/MFRuntime.h"

class TReadCallback;

// A wrapper around `camera` that reports its failures to `reads` as read line `line`
// (see TReadCallback::OpenReaderLine); createEvent (MFCreateMediaEvent) rebuilds the events
// that announce a stream. One reference for the caller; null without memory.
IMFMediaSource* CreateWatchedSource(IMFMediaSource* camera, TReadCallback* reads, unsigned line,
                                    TMFRuntime::TMFCreateMediaEvent createEvent);
