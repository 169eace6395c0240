#include "radio/uart.h"

#include "app/zlog.h"
#include "radio/zwake.h"

#include <QDebug>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <termios.h>
#include <unistd.h>

static speed_t baud_to_speed(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    default: return B0;
    }
}

int uart_configure(int fd, int baud)
{
    const speed_t speed = baud_to_speed(baud);
    if (speed == B0)
        return -EINVAL;
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return -errno;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~(OPOST | ONLCR);
    tio.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return -errno;
    return 0;
}

uart_t *uart_create(const char *path, int baud)
{
    uart_t *uart = new (std::nothrow) uart_t;
    if (!uart)
        return nullptr;
    uart->path = strdup(path ? path : "");
    if (!uart->path) {
        delete uart;
        return nullptr;
    }
    uart->wakeFd = zwake_create();

    // Not blocking in open(): a port without carrier would hang here.
    const int fd = open(uart->path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        qCWarning(logSerial).noquote() << QString::asprintf("can't open %s", uart->path);
        return uart;
    }
    if (uart_configure(fd, baud) != 0) {
        qCWarning(logSerial) << "error in uart parameters";
        close(fd);
        return uart;
    }
    uart->rxBuffer = new (std::nothrow) uint8_t[UART_BUFFER_SIZE];
    uart->txBuffer = new (std::nothrow) uint8_t[UART_BUFFER_SIZE];
    if (!uart->rxBuffer || !uart->txBuffer) {
        delete[] uart->rxBuffer;
        delete[] uart->txBuffer;
        uart->rxBuffer = uart->txBuffer = nullptr;
        close(fd);
        zwake_destroy(uart->wakeFd);
        free(uart->path);
        delete uart;
        return nullptr;
    }
    uart->bufferSize = UART_BUFFER_SIZE;
    close(fd);
    return uart;
}

int uart_thread_hook(uart_t *uart, uart_routine_t routine)
{
    if (!uart || !routine || uart->threadStarted)
        return -EINVAL;
    uart->routine = routine;
    uart->exitRequest.store(0);
    const int rc = pthread_create(&uart->thread, nullptr, routine, nullptr);
    if (rc != 0) {
        qCWarning(logSerial).noquote()
            << QString::asprintf("can't create thread with routine=0x%08lX", (unsigned long)(uintptr_t)routine);
        return -rc;
    }
    uart->threadStarted = true;
    return 0;
}

void uart_destroy(uart_t *uart)
{
    if (!uart)
        return;
    qCInfo(logSerial) << "call uart_destroy()";
    uart->exitRequest.store(1);
    uart_wake(uart);
    if (uart->threadStarted) {
        const int rc = pthread_join(uart->thread, nullptr);
        if (rc != 0)
            qCWarning(logSerial) << "can't join thread," << rc;
        uart->threadStarted = false;
    }
    const int fd = uart->fd.exchange(-1);
    if (fd >= 0)
        close(fd);
    delete[] uart->rxBuffer;
    delete[] uart->txBuffer;
    zwake_destroy(uart->wakeFd);
    free(uart->path);
    delete uart;
}

void uart_wake(uart_t *uart)
{
    if (uart)
        zwake_signal(uart->wakeFd);
}
