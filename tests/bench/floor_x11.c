/* The X11 bench's floor: the least an Xlib client can do to play ten frames.
 * One 640 x 480 window and ten pixmaps of its size made once; at each tick one
 * XCopyArea of the next pixmap into the window and one XFlush, as the saver
 * does per monitor. Ticks come from a timerfd; a tick that falls behind is not
 * caught up. Command line: floor_x11 PERIOD_MS. It runs until it is killed. */
#include <X11/Xlib.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/timerfd.h>
#include <unistd.h>

enum { WIDTH = 640, HEIGHT = 480, FRAMES = 10 };

int main(int argc, char **argv)
{
    long period = argc > 1 ? atol(argv[1]) : 10;
    Display *display = XOpenDisplay(NULL);
    if (!display || period <= 0) {
        fprintf(stderr, "floor_x11: no display, or a bad period\n");
        return 1;
    }
    int screen = DefaultScreen(display);
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, WIDTH, HEIGHT,
                                        0, BlackPixel(display, screen), BlackPixel(display, screen));
    XMapWindow(display, window);
    GC gc = XCreateGC(display, window, 0, NULL);
    Pixmap frames[FRAMES];
    for (int i = 0; i < FRAMES; ++i) {
        frames[i] = XCreatePixmap(display, window, WIDTH, HEIGHT, DefaultDepth(display, screen));
        XSetForeground(display, gc, BlackPixel(display, screen));
        XFillRectangle(display, frames[i], gc, 0, 0, WIDTH, HEIGHT);
        XSetForeground(display, gc, WhitePixel(display, screen));
        for (int x = i; x < WIDTH; x += FRAMES) XFillRectangle(display, frames[i], gc, x, 0, 1, HEIGHT);
    }
    int timer = timerfd_create(CLOCK_MONOTONIC, 0);
    struct itimerspec ticks = {{period / 1000, period % 1000 * 1000000},
                               {period / 1000, period % 1000 * 1000000}};
    timerfd_settime(timer, 0, &ticks, NULL);
    for (int index = 0;; index = (index + 1) % FRAMES) {
        uint64_t expired;
        if (read(timer, &expired, sizeof expired) != sizeof expired) return 1;
        XCopyArea(display, frames[index], window, gc, 0, 0, WIDTH, HEIGHT, 0, 0);
        XFlush(display);
    }
}
