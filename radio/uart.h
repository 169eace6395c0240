#ifndef UART_H
#define UART_H

// Serial helper: line set-up of a serial device and the thread that reads it.
// The radio link uses it for the base-band UART, the CI-V transport for its
// serial ports.

#include "radio/bbframe.h"

#include <atomic>
#include <cstdint>
#include <pthread.h>

#define UART_BUFFER_SIZE 8272u

typedef void *(*uart_routine_t)(void *);

struct uart_t {
    char *path = nullptr;             // owned copy
    std::atomic<int> fd{-1};          // the reader's descriptor; -1 when closed
    uint8_t *rxBuffer = nullptr;      // one read of the reader thread
    uint8_t *txBuffer = nullptr;      // allocated alongside, unused by the reader
    unsigned bufferSize = 0;
    uint8_t frame[BBFRAME_SIZE] = {};  // last accepted frame (reader thread only)
    pthread_t thread{};
    bool threadStarted = false;
    uart_routine_t routine = nullptr;
    std::atomic<uint8_t> exitRequest{0};
    std::atomic<uint8_t> suspendRequest{0};
    // Set by the reader once it has stopped reading for a suspend request,
    // cleared when it reads again.
    std::atomic<uint8_t> suspended{0};
    // Wakes the reader from its wait (exit and suspend requests); see
    // radio/zwake.h.
    int wakeFd = -1;
};

// Opens path (read-write, not as controlling terminal), sets raw 8N1 at baud
// in both directions with non-blocking reads, allocates the buffers and
// closes the device again: the reader thread opens it itself. Returns null
// only when memory runs out. A device that cannot be opened gives an object
// with fd -1 and no buffers ("can't open %s"); a configuration failure or an
// unsupported speed one without buffers ("error in uart parameters").
uart_t *uart_create(const char *path, int baud);

// Starts a thread running routine(nullptr). 0 or a negative errno code.
int uart_thread_hook(uart_t *uart, uart_routine_t routine);

// Asks the thread to end (waking it), joins it, closes the descriptor and
// frees all.
void uart_destroy(uart_t *uart);

// Wakes the reader thread from its wait so it sees a changed request.
void uart_wake(uart_t *uart);

// Sets raw 8N1 at baud on an open descriptor. 0 or a negative errno code.
int uart_configure(int fd, int baud);

#endif
