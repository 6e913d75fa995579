/* uiglean-hostile-app: an accessible application that misbehaves on purpose.
 *
 * It joins the accessibility bus the way a toolkit does (it embeds its root object in the
 * registry), owns an X11 window that the window manager makes active, and answers the
 * accessibility protocol from a tree of made-up objects in whichever hostile way its options ask
 * for: addresses of its own bus that run programs or never answer, calls never answered or
 * answered late, trees with cycles, a million children, megabyte names, wrong reply types, errors,
 * very long object paths, or an exit in the middle of a walk.
 *
 *   uiglean-hostile-app [--log FILE] [--peer KIND] [--marker FILE] [--tree KIND] [--delay-ms N]
 *                       [--silent MEMBER[@PATH]]... [--exit-after N] [--toolkit NAME]
 *                       [--version V] [--events N]
 *
 *   --peer none|exec|tcp|foreign|stall|abstract
 *       what GetApplicationBusAddress answers: nothing; a unixexec: address whose program would
 *       create --marker; a tcp: address; a Unix socket that another process (a child) listens
 *       on; a Unix socket (path or abstract) this process accepts on and never answers.
 *   --tree normal|cycle|wide|names|types|errors|paths|deep|values
 *       (wide: a million children claimed, twenty thousand listed)
 *   --delay-ms N     every answer is sent N ms after the call arrives
 *   --silent M[@P]   calls of member M (on object path P only) are never answered
 *   --exit-after N   exit after answering N calls
 *   --toolkit NAME   ToolkitName (default GTK, which makes clients use GetAll)
 *   --version V      the Application interface's Version (default: no such property)
 *   --events N       N object events every 50 ms, as a flood:
 *                    state and property changes of its window, and malformed ones (no
 *                    arguments, wrong types, a child of the wrong type, long details)
 *
 * The log gets one line per notable event ("ready", "peer: accepted", "peer: got data",
 * "foreign: closed silently", "foreign: got data", "calls: N"), flushed at once.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <systemd/sd-bus.h>
#include <xcb/xcb.h>

#define ROOT_PATH "/org/a11y/atspi/accessible/root"
#define WINDOW_PATH "/h"
#define MAX_SILENT 8
#define MAX_DELAYED 65536

static const char *log_path;
static const char *peer_kind = "none";
static const char *marker_path = "/nonexistent";
static const char *tree_kind = "normal";
static const char *toolkit = "GTK";
static const char *toolkit_version;
static long events_per_turn;
static long delay_ms;
static long exit_after = -1;
static long calls_answered;
static const char *silent[MAX_SILENT];
static int silent_count;
static volatile sig_atomic_t stop;

static char peer_address[256];
static int listen_fd = -1;
static int accepted[64];
static int accepted_count;
static pid_t foreign_child;

static char *big_name; /* --tree names */
static char *long_segment; /* --tree paths */

static void logf_(const char *fmt, ...) {
  if (log_path == NULL) return;
  FILE *f = fopen(log_path, "a");
  if (f == NULL) return;
  va_list ap;
  va_start(ap, fmt);
  vfprintf(f, fmt, ap);
  va_end(ap);
  fputc('\n', f);
  fclose(f);
}

static uint64_t now_usec(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000u + (uint64_t)ts.tv_nsec / 1000u;
}

/* ---- Replies sent later (--delay-ms). ---- */

struct delayed {
  uint64_t due;
  sd_bus_message *reply;
};
static struct delayed delayed_replies[MAX_DELAYED];
static size_t delayed_count;

/* Sends (or queues) a reply; 1, which tells sd-bus that the call was handled. */
static int send_reply(sd_bus_message *reply) {
  if (delay_ms <= 0 || delayed_count >= MAX_DELAYED) {
    int r = sd_bus_send(NULL, reply, NULL);
    sd_bus_message_unref(reply);
    return r < 0 ? r : 1;
  }
  delayed_replies[delayed_count].due = now_usec() + (uint64_t)delay_ms * 1000u;
  delayed_replies[delayed_count].reply = reply;
  ++delayed_count;
  return 1;
}

static void flush_delayed(void) {
  uint64_t now = now_usec();
  size_t kept = 0;
  for (size_t i = 0; i < delayed_count; ++i) {
    if (delayed_replies[i].due <= now) {
      sd_bus_send(NULL, delayed_replies[i].reply, NULL);
      sd_bus_message_unref(delayed_replies[i].reply);
    } else {
      delayed_replies[kept++] = delayed_replies[i];
    }
  }
  delayed_count = kept;
}

static int next_due_ms(void) {
  if (delayed_count == 0) return -1;
  uint64_t first = delayed_replies[0].due;
  for (size_t i = 1; i < delayed_count; ++i) {
    if (delayed_replies[i].due < first) first = delayed_replies[i].due;
  }
  uint64_t now = now_usec();
  return first <= now ? 0 : (int)((first - now + 999) / 1000);
}

/* ---- The made-up tree. ---- */

/* The protocol's numbers. */
enum {
  ROLE_FRAME = 23,
  ROLE_LABEL = 29,
  ROLE_PANEL = 39,
  ROLE_PUSH_BUTTON = 43,
  ROLE_SLIDER = 51,
  ROLE_APPLICATION = 75,
  ROLE_ENTRY = 79,
};
enum {
  ST_ACTIVE = 1,
  ST_ENABLED = 8,
  ST_FOCUSABLE = 11,
  ST_SENSITIVE = 24,
  ST_SHOWING = 25,
  ST_SINGLE_LINE = 26,
  ST_VISIBLE = 30,
};

struct node {
  uint32_t role;
  const char *name;
  int child_count;   /* as claimed */
  int listed;        /* how many GetChildren lists */
  int is_value;      /* has the Value interface */
  double value;
  int is_text;
  int has_action;
  int x, y, w, h;
};

static int depth_of(const char *path) {
  int d = 0;
  for (const char *p = path + strlen(WINDOW_PATH); *p; ++p) {
    if (*p == '/') ++d;
  }
  return d;
}

/* The last number of a path under the window, or -1. */
static long last_index(const char *path) {
  const char *slash = strrchr(path, '/');
  if (slash == NULL || slash[1] < '0' || slash[1] > '9') return -1;
  return strtol(slash + 1, NULL, 10);
}

static int describe(const char *path, struct node *n) {
  memset(n, 0, sizeof *n);
  n->x = 100;
  n->y = 100;
  n->w = 400;
  n->h = 300;
  if (strcmp(path, ROOT_PATH) == 0) {
    n->role = ROLE_APPLICATION;
    n->name = "Hostile";
    n->child_count = n->listed = 1;
    return 1;
  }
  if (strncmp(path, WINDOW_PATH, strlen(WINDOW_PATH)) != 0) return 0;
  if (path[strlen(WINDOW_PATH)] != '\0' && path[strlen(WINDOW_PATH)] != '/') return 0;
  int depth = depth_of(path);
  long index = last_index(path);
  const char *name = strcmp(tree_kind, "names") == 0 ? big_name : NULL;
  if (depth == 0) {
    n->role = ROLE_FRAME;
    n->name = name != NULL ? name : "Hostile";
    n->child_count = n->listed = 4;
    return 1;
  }
  n->x = 110 + (int)(index < 0 ? 0 : index % 8) * 40;
  n->y = 110 + depth * 10;
  n->w = 30;
  n->h = 20;
  if (strcmp(tree_kind, "deep") == 0) {
    /* A chain 16 levels deep: a panel and a button on every level. */
    if (depth >= 16) {
      n->role = ROLE_PUSH_BUTTON;
      n->name = "Bottom";
      n->has_action = 1;
      return 1;
    }
    n->role = index == 0 ? ROLE_PANEL : ROLE_PUSH_BUTTON;
    n->name = index == 0 ? "Level" : "Button";
    n->has_action = index != 0;
    n->child_count = n->listed = index == 0 ? 2 : 0;
    return 1;
  }
  if (depth == 1) {
    switch (index) {
      case 0:
        n->role = ROLE_PUSH_BUTTON;
        n->name = name != NULL ? name : "OK";
        n->has_action = 1;
        return 1;
      case 1:
        n->role = ROLE_PANEL;
        n->name = name != NULL ? name : "Panel";
        n->child_count = strcmp(tree_kind, "wide") == 0 ? 1000000
                       : strcmp(tree_kind, "values") == 0 ? 2 : 1;
        n->listed = strcmp(tree_kind, "wide") == 0 ? 20000 : n->child_count;
        return 1;
      case 2:
        n->role = ROLE_ENTRY;
        n->name = name != NULL ? name : "Field";
        n->is_text = 1;
        return 1;
      case 3:
        n->role = ROLE_SLIDER;
        n->name = name != NULL ? name : "Level";
        n->is_value = 1;
        n->value = 5;
        return 1;
      default:
        return 0;
    }
  }
  /* Children of the panel (and, in a cycle, of everything below it). */
  n->role = ROLE_LABEL;
  n->name = name != NULL ? name : "Inside";
  if (strcmp(tree_kind, "cycle") == 0) n->child_count = n->listed = 2;
  if (strcmp(tree_kind, "values") == 0 && depth == 2) {
    n->role = ROLE_SLIDER;
    n->is_value = 1;
  }
  return 1;
}

/* The object path of child i of `parent`. */
static void child_path(const char *parent, long i, char *out, size_t size) {
  if (strcmp(parent, ROOT_PATH) == 0) {
    snprintf(out, size, "%s", WINDOW_PATH);
    return;
  }
  if (strcmp(tree_kind, "cycle") == 0 && depth_of(parent) >= 1 && last_index(parent) == 1) {
    /* The panel lists the window, its own ancestor, then itself. */
    snprintf(out, size, "%s", i == 0 ? WINDOW_PATH : parent);
    return;
  }
  if (strcmp(tree_kind, "cycle") == 0 && depth_of(parent) >= 2) {
    snprintf(out, size, "%s", i == 0 ? WINDOW_PATH "/1" : parent);
    return;
  }
  if (strcmp(tree_kind, "paths") == 0 && strcmp(parent, WINDOW_PATH) != 0) {
    snprintf(out, size, "%s/%s%ld", parent, long_segment, i);
    return;
  }
  snprintf(out, size, "%s/%ld", parent, i);
}

/* ---- Answers. ---- */

static int silenced(const char *member, const char *path) {
  for (int i = 0; i < silent_count; ++i) {
    const char *spec = silent[i];
    const char *at = strchr(spec, '@');
    size_t len = at != NULL ? (size_t)(at - spec) : strlen(spec);
    if (strlen(member) != len || strncmp(member, spec, len) != 0) continue;
    if (at == NULL) return 1;
    /* "@PATH" matches that exact path. */
    if (strcmp(path, at + 1) == 0) return 1;
  }
  return 0;
}

static const char *own_name;

static int append_object(sd_bus_message *m, const char *path) {
  return sd_bus_message_append(m, "(so)", own_name, path);
}

static int reply_error(sd_bus_message *call, const char *name, const char *text) {
  sd_bus_message *reply = NULL;
  sd_bus_error e = SD_BUS_ERROR_MAKE_CONST(name, text);
  int r = sd_bus_message_new_method_error(call, &reply, &e);
  if (r < 0) return r;
  return send_reply(reply);
}

static int states_of(const struct node *n, uint32_t words[2]) {
  uint64_t s = (1ull << ST_ENABLED) | (1ull << ST_SENSITIVE) | (1ull << ST_SHOWING) |
               (1ull << ST_VISIBLE);
  if (n->role == ROLE_FRAME) s |= 1ull << ST_ACTIVE;
  if (n->is_text) s |= (1ull << ST_SINGLE_LINE) | (1ull << ST_FOCUSABLE);
  words[0] = (uint32_t)s;
  words[1] = (uint32_t)(s >> 32);
  return 0;
}

static int append_property(sd_bus_message *m, const char *path, const struct node *n,
                           const char *prop) {
  char parent[16384];
  if (strcmp(prop, "Name") == 0) return sd_bus_message_append(m, "v", "s", n->name);
  if (strcmp(prop, "Description") == 0) return sd_bus_message_append(m, "v", "s", "");
  if (strcmp(prop, "ChildCount") == 0) return sd_bus_message_append(m, "v", "i", n->child_count);
  if (strcmp(prop, "AccessibleId") == 0) return sd_bus_message_append(m, "v", "s", "");
  if (strcmp(prop, "ToolkitName") == 0) return sd_bus_message_append(m, "v", "s", toolkit);
  if (strcmp(prop, "Version") == 0 && toolkit_version != NULL) {
    return sd_bus_message_append(m, "v", "s", toolkit_version);
  }
  if (strcmp(prop, "Parent") == 0) {
    snprintf(parent, sizeof parent, "%s", path);
    char *slash = strrchr(parent, '/');
    if (strcmp(path, WINDOW_PATH) == 0) snprintf(parent, sizeof parent, "%s", ROOT_PATH);
    else if (slash != NULL) *slash = '\0';
    int r = sd_bus_message_open_container(m, 'v', "(so)");
    if (r >= 0) r = append_object(m, parent);
    if (r >= 0) r = sd_bus_message_close_container(m);
    return r;
  }
  if (strcmp(prop, "CurrentValue") == 0 || strcmp(prop, "MinimumValue") == 0 ||
      strcmp(prop, "MaximumValue") == 0 || strcmp(prop, "MinimumIncrement") == 0) {
    double v = strcmp(prop, "CurrentValue") == 0 ? n->value
             : strcmp(prop, "MaximumValue") == 0 ? 10
             : strcmp(prop, "MinimumIncrement") == 0 ? 1 : 0;
    if (strcmp(tree_kind, "values") == 0 && strcmp(prop, "CurrentValue") == 0) {
      long i = last_index(path);
      if (depth_of(path) == 1) v = 0.0 / 0.0;                      /* NaN */
      else if (i == 0) v = 1.0 / 0.0;                                /* +inf */
      else return sd_bus_message_append(m, "v", "s", "not a number"); /* wrong type */
    }
    return sd_bus_message_append(m, "v", "d", v);
  }
  if (strcmp(prop, "CaretOffset") == 0) return sd_bus_message_append(m, "v", "i", 0);
  return -ENOENT;
}

/* Wrong types for every answer (--tree types). */
static int answer_wrong_type(sd_bus_message *call) {
  sd_bus_message *reply = NULL;
  int r = sd_bus_message_new_method_return(call, &reply);
  if (r < 0) return r;
  const char *member = sd_bus_message_get_member(call);
  if (strcmp(member, "GetRole") == 0) r = sd_bus_message_append(reply, "s", "push button");
  else if (strcmp(member, "GetState") == 0) r = sd_bus_message_append(reply, "i", 7);
  else if (strcmp(member, "GetChildren") == 0) r = sd_bus_message_append(reply, "as", 2, "a", "b");
  else if (strcmp(member, "GetExtents") == 0) r = sd_bus_message_append(reply, "(dddd)", 1.0, 2.0, 3.0, 4.0);
  else if (strcmp(member, "GetAll") == 0) r = sd_bus_message_append(reply, "a{ss}", 1, "Name", "x");
  else if (strcmp(member, "Get") == 0) r = sd_bus_message_append(reply, "v", "(ii)", 1, 2);
  else if (strcmp(member, "GetActions") == 0) r = sd_bus_message_append(reply, "as", 1, "click");
  else if (strcmp(member, "GetText") == 0) r = sd_bus_message_append(reply, "i", 3);
  else r = sd_bus_message_append(reply, "u", 0xdeadbeefu);
  if (r < 0) {
    sd_bus_message_unref(reply);
    return r;
  }
  return send_reply(reply);
}

static int on_call(sd_bus_message *call, void *userdata, sd_bus_error *error) {
  (void)userdata;
  (void)error;
  uint8_t type = 0;
  if (sd_bus_message_get_type(call, &type) < 0 || type != SD_BUS_MESSAGE_METHOD_CALL) return 0;
  const char *path = sd_bus_message_get_path(call);
  const char *iface = sd_bus_message_get_interface(call);
  const char *member = sd_bus_message_get_member(call);
  if (path == NULL || member == NULL) return 0;
  if (iface == NULL) iface = "";
  if (exit_after >= 0 && calls_answered >= exit_after) {
    logf_("exiting after %ld calls", calls_answered);
    _exit(0);
  }
  ++calls_answered;
  if (silenced(member, path)) return 1; /* handled: never answered */

  int is_root = strcmp(path, ROOT_PATH) == 0;
  struct node n;
  if (!describe(path, &n)) return reply_error(call, "org.freedesktop.DBus.Error.UnknownObject", path);

  if (strcmp(iface, "org.a11y.atspi.Application") == 0 &&
      strcmp(member, "GetApplicationBusAddress") == 0) {
    sd_bus_message *reply = NULL;
    int r = sd_bus_message_new_method_return(call, &reply);
    if (r >= 0) r = sd_bus_message_append(reply, "s", peer_address);
    if (r < 0) return r;
    return send_reply(reply);
  }
  if (!is_root && strcmp(path, WINDOW_PATH) != 0) {
    if (strcmp(tree_kind, "types") == 0) return answer_wrong_type(call);
    if (strcmp(tree_kind, "errors") == 0) {
      static int k;
      const char *names[] = {"org.freedesktop.DBus.Error.Failed", "com.example.Hostile.Weird",
                             "org.freedesktop.DBus.Error.AccessDenied",
                             "org.freedesktop.DBus.Error.InvalidArgs"};
      ++k;
      return reply_error(call, names[k % 4], "no");
    }
  }

  if (strcmp(tree_kind, "values") == 0 && strcmp(member, "GetRole") == 0) {
    /* Roles that cannot be read: an error, and a reply of the wrong type. */
    if (strcmp(path, WINDOW_PATH "/0") == 0) {
      return reply_error(call, "org.freedesktop.DBus.Error.Failed", "no role");
    }
    if (strcmp(path, WINDOW_PATH "/2") == 0) return answer_wrong_type(call);
  }

  sd_bus_message *reply = NULL;
  int r = sd_bus_message_new_method_return(call, &reply);
  if (r < 0) return r;
  if (strcmp(iface, "org.freedesktop.DBus.Properties") == 0 && strcmp(member, "Get") == 0) {
    const char *pi = NULL, *prop = NULL;
    if (sd_bus_message_read(call, "ss", &pi, &prop) <= 0) goto unknown;
    r = append_property(reply, path, &n, prop);
    if (r == -ENOENT) goto unknown;
  } else if (strcmp(iface, "org.freedesktop.DBus.Properties") == 0 &&
             strcmp(member, "GetAll") == 0) {
    static const char *props[] = {"Name", "Description", "ChildCount", "AccessibleId", "Parent"};
    r = sd_bus_message_open_container(reply, 'a', "{sv}");
    for (size_t i = 0; r >= 0 && i < sizeof props / sizeof *props; ++i) {
      r = sd_bus_message_open_container(reply, 'e', "sv");
      if (r >= 0) r = sd_bus_message_append(reply, "s", props[i]);
      if (r >= 0) r = append_property(reply, path, &n, props[i]);
      if (r >= 0) r = sd_bus_message_close_container(reply);
    }
    if (r >= 0) r = sd_bus_message_close_container(reply);
  } else if (strcmp(member, "GetRole") == 0) {
    r = sd_bus_message_append(reply, "u", n.role);
  } else if (strcmp(member, "GetState") == 0) {
    uint32_t words[2];
    states_of(&n, words);
    r = sd_bus_message_append(reply, "au", 2, words[0], words[1]);
  } else if (strcmp(member, "GetChildren") == 0) {
    char child[16384];
    /* A client that asks a container of a million for all of them would make a real toolkit
     * build them all: said in the log. */
    if (n.child_count > 100000) logf_("all children asked of a container of %d", n.child_count);
    r = sd_bus_message_open_container(reply, 'a', "(so)");
    for (long i = 0; r >= 0 && i < n.listed; ++i) {
      child_path(path, i, child, sizeof child);
      r = append_object(reply, child);
    }
    if (r >= 0) r = sd_bus_message_close_container(reply);
  } else if (strcmp(member, "GetChildAtIndex") == 0) {
    int32_t i = 0;
    char child[16384];
    sd_bus_message_read(call, "i", &i);
    child_path(path, i, child, sizeof child);
    r = append_object(reply, child);
  } else if (strcmp(member, "GetExtents") == 0) {
    r = sd_bus_message_append(reply, "(iiii)", n.x, n.y, n.w, n.h);
  } else if (strcmp(member, "GetActions") == 0 && n.has_action) {
    r = sd_bus_message_append(reply, "a(sss)", 1, "click", "", "");
  } else if (strcmp(member, "GetNActions") == 0 && n.has_action) {
    r = sd_bus_message_append(reply, "i", 1);
  } else if (strcmp(member, "DoAction") == 0 && n.has_action) {
    logf_("action on %s", path);
    r = sd_bus_message_append(reply, "b", 1);
  } else if (strcmp(member, "GetText") == 0 && n.is_text) {
    r = sd_bus_message_append(reply, "s", "hello");
  } else if (strcmp(member, "GetNSelections") == 0 && n.is_text) {
    r = sd_bus_message_append(reply, "i", 0);
  } else if (strcmp(member, "GetSelection") == 0 && n.is_text) {
    r = sd_bus_message_append(reply, "ii", 0, 0);
  } else if (strcmp(member, "GetAttributes") == 0) {
    r = sd_bus_message_append(reply, "a{ss}", 0);
  } else if (strcmp(member, "GetIndexInParent") == 0) {
    r = sd_bus_message_append(reply, "i", (int32_t)(last_index(path) < 0 ? 0 : last_index(path)));
  } else {
    goto unknown;
  }
  if (r < 0) {
    sd_bus_message_unref(reply);
    return r;
  }
  return send_reply(reply);
unknown:
  sd_bus_message_unref(reply);
  return reply_error(call, "org.freedesktop.DBus.Error.UnknownMethod", member);
}

/* ---- The application's own bus (--peer). ---- */

static int listen_unix(const char *name, int abstract) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  struct sockaddr_un sa;
  memset(&sa, 0, sizeof sa);
  sa.sun_family = AF_UNIX;
  socklen_t len;
  if (abstract) {
    memcpy(sa.sun_path + 1, name, strlen(name));
    len = (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + strlen(name));
  } else {
    unlink(name);
    memcpy(sa.sun_path, name, strlen(name));
    len = (socklen_t)(offsetof(struct sockaddr_un, sun_path) + strlen(name) + 1);
  }
  if (bind(fd, (struct sockaddr *)&sa, len) < 0 || listen(fd, 16) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

/* A child that listens on `path` and reports whether a client sent it anything. */
static void start_foreign(const char *path) {
  int ready[2];
  if (pipe(ready) < 0) return;
  foreign_child = fork();
  if (foreign_child != 0) {
    char c;
    close(ready[1]);
    if (read(ready[0], &c, 1) < 0) c = 0;
    close(ready[0]);
    return;
  }
  close(ready[0]);
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  int fd = listen_unix(path, 0);
  int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (write(ready[1], "x", 1) < 0) _exit(1);
  close(ready[1]);
  for (;;) {
    int c = accept(fd, NULL, NULL);
    if (c < 0) _exit(0);
    char buf[64];
    ssize_t got = read(c, buf, sizeof buf);
    logf_(got > 0 ? "foreign: got data" : "foreign: closed silently");
    close(c);
  }
}

static void setup_peer(const char *state_dir) {
  char sock[200];
  snprintf(sock, sizeof sock, "%s/hostile-%d.sock", state_dir, (int)getpid());
  if (strcmp(peer_kind, "exec") == 0) {
    snprintf(peer_address, sizeof peer_address,
             "unixexec:path=/bin/sh,argv0=sh,argv1=-c,argv2=touch%%20%s", marker_path);
  } else if (strcmp(peer_kind, "tcp") == 0) {
    snprintf(peer_address, sizeof peer_address, "tcp:host=127.0.0.1,port=9,family=ipv4");
  } else if (strcmp(peer_kind, "foreign") == 0) {
    start_foreign(sock);
    snprintf(peer_address, sizeof peer_address, "unix:path=%s", sock);
  } else if (strcmp(peer_kind, "stall") == 0) {
    listen_fd = listen_unix(sock, 0);
    snprintf(peer_address, sizeof peer_address, "unix:path=%s", sock);
  } else if (strcmp(peer_kind, "abstract") == 0) {
    char name[64];
    snprintf(name, sizeof name, "uiglean-hostile-%d", (int)getpid());
    listen_fd = listen_unix(name, 1);
    snprintf(peer_address, sizeof peer_address, "unix:abstract=%s", name);
  }
}

static void accept_and_hold(void) {
  for (;;) {
    int c = accept4(listen_fd, NULL, NULL, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c < 0) return;
    logf_("peer: accepted");
    if (accepted_count < (int)(sizeof accepted / sizeof *accepted)) {
      accepted[accepted_count++] = c;
    } else {
      close(c);
    }
  }
}

/* ---- Start-up. ---- */

static char *a11y_address(void) {
  const char *env = getenv("AT_SPI_BUS_ADDRESS");
  if (env != NULL && *env) return strdup(env);
  sd_bus *session = NULL;
  if (sd_bus_open_user(&session) < 0) return NULL;
  sd_bus_message *reply = NULL;
  sd_bus_error e = SD_BUS_ERROR_NULL;
  char *out = NULL;
  if (sd_bus_call_method(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                         &e, &reply, "") >= 0) {
    const char *s = NULL;
    if (sd_bus_message_read(reply, "s", &s) > 0) out = strdup(s);
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&e);
  sd_bus_unref(session);
  return out;
}

static xcb_connection_t *open_window(void) {
  xcb_connection_t *c = xcb_connect(NULL, NULL);
  if (xcb_connection_has_error(c)) return NULL;
  xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_window_t w = xcb_generate_id(c);
  uint32_t values[] = {screen->white_pixel};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 100, 100, 400, 300, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
  const char *title = "Hostile";
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                      (uint32_t)strlen(title), title);
  const char cls[] = "hostile\0Hostile";
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      sizeof cls, cls);
  xcb_intern_atom_reply_t *pid_atom =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 11, "_NET_WM_PID"), NULL);
  if (pid_atom != NULL) {
    uint32_t pid = (uint32_t)getpid();
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, pid_atom->atom, XCB_ATOM_CARDINAL, 32, 1,
                        &pid);
    free(pid_atom);
  }
  xcb_map_window(c, w);
  xcb_flush(c);
  return c;
}

static void on_term(int sig) {
  (void)sig;
  stop = 1;
}

/* One turn's flood of object events (--events): well-formed ones that drop what a client keeps,
 * and malformed ones a client must survive. */
static void flood(sd_bus *bus) {
  static struct timespec last;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  long since_ms = (now.tv_sec - last.tv_sec) * 1000 + (now.tv_nsec - last.tv_nsec) / 1000000;
  if (since_ms < 50) return;
  last = now;
  static char long_detail[4096];
  if (long_detail[0] == '\0') memset(long_detail, 'x', sizeof long_detail - 1);
  const char *iface = "org.a11y.atspi.Event.Object";
  for (long i = 0; i < events_per_turn; ++i) {
    sd_bus_message *m = NULL;
    int r = 0;
    switch (i % 5) {
      case 0:
        r = sd_bus_message_new_signal(bus, &m, WINDOW_PATH, iface, "StateChanged");
        if (r >= 0) r = sd_bus_message_append(m, "siiva{sv}", "focused", (int)(i & 1), 0, "i", 0, 0);
        break;
      case 1:
        r = sd_bus_message_new_signal(bus, &m, WINDOW_PATH, iface, "PropertyChange");
        if (r >= 0) r = sd_bus_message_append(m, "siiva{sv}", "accessible-name", 0, 0, "s", "x", 0);
        break;
      case 2: /* no arguments at all */
        r = sd_bus_message_new_signal(bus, &m, WINDOW_PATH, iface, "StateChanged");
        break;
      case 3: /* wrong types */
        r = sd_bus_message_new_signal(bus, &m, ROOT_PATH, iface, "StateChanged");
        if (r >= 0) r = sd_bus_message_append(m, "ud", 7u, 1.5);
        break;
      default: /* a long detail, and a child that is not an object */
        r = sd_bus_message_new_signal(bus, &m, WINDOW_PATH, iface, "ChildrenChanged");
        if (r >= 0) r = sd_bus_message_append(m, "siiva{sv}", long_detail, 0, 0, "s", "child", 0);
        break;
    }
    if (r >= 0) sd_bus_send(bus, m, NULL);
    sd_bus_message_unref(m);
  }
}

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    const char *v = i + 1 < argc ? argv[i + 1] : NULL;
    if (v == NULL) {
      fprintf(stderr, "uiglean-hostile-app: %s needs a value\n", a);
      return 2;
    }
    if (strcmp(a, "--log") == 0) log_path = v;
    else if (strcmp(a, "--peer") == 0) peer_kind = v;
    else if (strcmp(a, "--marker") == 0) marker_path = v;
    else if (strcmp(a, "--tree") == 0) tree_kind = v;
    else if (strcmp(a, "--delay-ms") == 0) delay_ms = strtol(v, NULL, 10);
    else if (strcmp(a, "--exit-after") == 0) exit_after = strtol(v, NULL, 10);
    else if (strcmp(a, "--toolkit") == 0) toolkit = v;
    else if (strcmp(a, "--version") == 0) toolkit_version = v;
    else if (strcmp(a, "--events") == 0) events_per_turn = strtol(v, NULL, 10);
    else if (strcmp(a, "--silent") == 0 && silent_count < MAX_SILENT) silent[silent_count++] = v;
    else {
      fprintf(stderr, "uiglean-hostile-app: unknown option %s\n", a);
      return 2;
    }
    ++i;
  }
  signal(SIGTERM, on_term);
  signal(SIGINT, on_term);
  signal(SIGPIPE, SIG_IGN);

  if (strcmp(tree_kind, "names") == 0) {
    /* About a megabyte: every control character, the bidirectional controls and marks, line
     * and paragraph separators, a byte-order mark, JSON's own quote and backslash, and text. */
    static const char *pieces[] = {
        "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15"
        "\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x7f",
        "\xc2\x80\xc2\x85\xc2\x9f",                          /* C1 controls */
        "\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xac\xe2\x80\xad\xe2\x80\xae", /* LRE RLE PDF LRO RLO */
        "\xe2\x81\xa6\xe2\x81\xa7\xe2\x81\xa8\xe2\x81\xa9",   /* LRI RLI FSI PDI */
        "\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c",                   /* LRM RLM ALM */
        "\xe2\x80\xa8\xe2\x80\xa9\xef\xbb\xbf",               /* LS PS BOM */
        "\"\\</script>", "Hostile name ",
    };
    size_t size = 1 << 20;
    big_name = malloc(size + 64);
    size_t at = 0;
    big_name[0] = '\0';
    while (at < size) {
      for (size_t i = 0; i < sizeof pieces / sizeof *pieces && at < size; ++i) {
        size_t len = strlen(pieces[i]);
        memcpy(big_name + at, pieces[i], len);
        at += len;
      }
    }
    big_name[at] = '\0';
  }
  if (strcmp(tree_kind, "paths") == 0) {
    size_t len = 10000;
    long_segment = malloc(len + 1);
    memset(long_segment, 'p', len);
    long_segment[len] = '\0';
  }

  const char *state_dir = getenv("XDG_RUNTIME_DIR");
  if (state_dir == NULL || strlen(state_dir) > 100) state_dir = "/tmp";
  setup_peer(state_dir);

  char *address = a11y_address();
  if (address == NULL) {
    fprintf(stderr, "uiglean-hostile-app: no accessibility bus\n");
    return 1;
  }
  sd_bus *bus = NULL;
  if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address) < 0 ||
      sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
    fprintf(stderr, "uiglean-hostile-app: cannot connect to the accessibility bus\n");
    return 1;
  }
  free(address);
  sd_bus_get_unique_name(bus, &own_name);
  if (sd_bus_add_fallback(bus, NULL, "/", on_call, NULL) < 0) return 1;

  /* Embed the root in the registry, as toolkits do. */
  sd_bus_message *reply = NULL;
  sd_bus_error e = SD_BUS_ERROR_NULL;
  if (sd_bus_call_method(bus, "org.a11y.atspi.Registry", ROOT_PATH, "org.a11y.atspi.Socket",
                         "Embed", &e, &reply, "(so)", own_name, ROOT_PATH) < 0) {
    fprintf(stderr, "uiglean-hostile-app: Embed failed: %s\n", e.message ? e.message : "?");
    return 1;
  }
  sd_bus_message_unref(reply);

  xcb_connection_t *x = open_window();
  if (x == NULL) {
    fprintf(stderr, "uiglean-hostile-app: no X display\n");
    return 1;
  }
  logf_("ready");

  while (!stop) {
    while (sd_bus_process(bus, NULL) > 0) {
    }
    if (events_per_turn > 0) flood(bus);
    flush_delayed();
    sd_bus_flush(bus);
    if (listen_fd >= 0) accept_and_hold();
    for (int i = 0; i < accepted_count; ++i) {
      char buf[256];
      if (accepted[i] >= 0 && read(accepted[i], buf, sizeof buf) > 0) {
        /* The client started to authenticate: it is never answered. */
        static int said;
        if (!said) logf_("peer: got data");
        said = 1;
      }
    }
    struct pollfd fds[3];
    int nfds = 0;
    fds[nfds].fd = sd_bus_get_fd(bus);
    fds[nfds].events = (short)sd_bus_get_events(bus);
    ++nfds;
    fds[nfds].fd = xcb_get_file_descriptor(x);
    fds[nfds].events = POLLIN;
    ++nfds;
    if (listen_fd >= 0) {
      fds[nfds].fd = listen_fd;
      fds[nfds].events = POLLIN;
      ++nfds;
    }
    int wait = next_due_ms();
    if (wait < 0 || wait > 50) wait = 50; /* also the pace of reading held connections */
    poll(fds, (nfds_t)nfds, wait);
    xcb_generic_event_t *ev;
    while ((ev = xcb_poll_for_event(x)) != NULL) free(ev);
    if (xcb_connection_has_error(x)) break;
  }
  if (foreign_child > 0) {
    kill(foreign_child, SIGTERM);
    waitpid(foreign_child, NULL, 0);
  }
  logf_("calls: %ld", calls_answered);
  return 0;
}
