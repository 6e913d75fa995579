/* uiglean-gtk-app: a GTK 3 application for the Linux desktop tests, the demo and the benchmark.
 *
 *   uiglean-gtk-app [--log FILE] [--title TITLE] [--big] [--ticks N]
 *
 * The main window ("uiglean test") holds a classic menu bar (File, View, Dialog) with
 * accelerators, a status label, buttons, entries, a text view, a check button, a toggle button, a
 * slider and a spin button. --big opens a second window, "Big", holding more than 5000 accessible
 * objects (no container with more than 96 children, at most 12 levels below the application).
 * --ticks N makes the application change itself N times, every 250 ms, with no one asking: tick
 * i sets the status label to "Tick i", adds the label "Item i" to a row under the buttons and
 * takes away "Item i-2", toggles the check button, makes "Open Dialog" and the row of the check
 * and toggle buttons (the row, not the buttons themselves) sensitive only on even ticks and sets
 * the Name entry to "tick i".
 *
 * With --log FILE, every change the application receives is appended to FILE as one line, written
 * and flushed at once, so that a test sees what really reached the application:
 *
 *   button LABEL                  a button was clicked ("button Say Hello")
 *   entry NAME=TEXT               an entry's text changed ("entry Name=Ada", "entry Password=x")
 *   textview=TEXT                 the text view's text changed
 *   check Enable feature=0|1      the check button was toggled
 *   toggle Bold=0|1               the toggle button was toggled
 *   slider Volume=VALUE           the slider moved (%g)
 *   spin Count=VALUE              the spin button changed (%g)
 *   menu LABEL                    a menu item was activated ("menu New", "menu Open…")
 *   menu Show Status=0|1          the check menu item was toggled
 *   window TITLE opened|closed    a window or the dialog appeared or went away
 *   dialog Confirm OK|Cancel|closed   how the dialog was answered
 *   status TEXT                   the status label's new text
 *   tick I                        tick I is done; "ticks done" after the last one
 *
 * In TEXT, a backslash is written as \\ and a line break as \n, so each record stays one line.
 * The application is non-unique: several instances may run at once.
 */
#include <atk/atk.h>
#include <gtk/gtk.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

static gchar *opt_log = NULL;
static gchar *opt_title = NULL;
static gboolean opt_big = FALSE;
static gint opt_ticks = 0;

static FILE *log_file = NULL;
static GtkApplication *app = NULL;
static GtkWidget *main_window = NULL;
static GtkWidget *status_label = NULL;
static GtkWidget *confirm_dialog = NULL;
static int hello_count = 0;

/* What --ticks changes. */
static GtkWidget *tick_row = NULL;
static GtkWidget *tick_check = NULL;
static GtkWidget *tick_button = NULL;
static GtkWidget *tick_toggles = NULL;
static GtkWidget *tick_entry = NULL;
static int tick_count = 0;

static void log_line(const char *fmt, ...) G_GNUC_PRINTF(1, 2);

static void log_line(const char *fmt, ...)
{
    if (log_file == NULL)
        return;
    va_list args;
    va_start(args, fmt);
    vfprintf(log_file, fmt, args);
    va_end(args);
    fputc('\n', log_file);
    fflush(log_file);
}

/* TEXT with backslashes and line breaks escaped; free with g_free. */
static gchar *escape_text(const char *text)
{
    GString *out = g_string_new(NULL);
    for (const char *p = text; *p != '\0'; p++) {
        if (*p == '\\')
            g_string_append(out, "\\\\");
        else if (*p == '\n')
            g_string_append(out, "\\n");
        else
            g_string_append_c(out, *p);
    }
    return g_string_free(out, FALSE);
}

static void set_accessible_name(GtkWidget *widget, const char *name)
{
    atk_object_set_name(gtk_widget_get_accessible(widget), name);
}

static void set_status(const char *text)
{
    gtk_label_set_text(GTK_LABEL(status_label), text);
    log_line("status %s", text);
}

/* ---- the Confirm dialog ------------------------------------------------------------------ */

static void on_confirm_response(GtkDialog *dialog, gint response, gpointer data)
{
    (void)data;
    const char *answer = response == GTK_RESPONSE_OK       ? "OK"
                         : response == GTK_RESPONSE_CANCEL ? "Cancel"
                                                           : "closed";
    log_line("dialog Confirm %s", answer);
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

static void on_confirm_destroy(GtkWidget *widget, gpointer data)
{
    (void)widget;
    (void)data;
    confirm_dialog = NULL;
    log_line("window Confirm closed");
}

static void open_confirm_dialog(void)
{
    if (confirm_dialog != NULL) {
        gtk_window_present(GTK_WINDOW(confirm_dialog));
        return;
    }
    confirm_dialog = gtk_dialog_new_with_buttons("Confirm", GTK_WINDOW(main_window),
                                                 GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT,
                                                 "_Cancel", GTK_RESPONSE_CANCEL, "_OK",
                                                 GTK_RESPONSE_OK, NULL);
    GtkWidget *content = gtk_dialog_get_content_area(GTK_DIALOG(confirm_dialog));
    GtkWidget *question = gtk_label_new("Are you sure?");
    g_object_set(question, "margin", 16, NULL);
    gtk_container_add(GTK_CONTAINER(content), question);
    gtk_dialog_set_default_response(GTK_DIALOG(confirm_dialog), GTK_RESPONSE_OK);
    g_signal_connect(confirm_dialog, "response", G_CALLBACK(on_confirm_response), NULL);
    g_signal_connect(confirm_dialog, "destroy", G_CALLBACK(on_confirm_destroy), NULL);
    gtk_widget_show_all(confirm_dialog);
    log_line("window Confirm opened");
}

/* ---- the second window ------------------------------------------------------------------- */

static void on_ping_clicked(GtkButton *button, gpointer data)
{
    GtkLabel *label = GTK_LABEL(data);
    int count = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "count")) + 1;
    g_object_set_data(G_OBJECT(button), "count", GINT_TO_POINTER(count));
    gchar *text = g_strdup_printf("Ping pressed %d", count);
    gtk_label_set_text(label, text);
    g_free(text);
    log_line("button Ping");
}

static void on_titled_window_destroy(GtkWidget *widget, gpointer data)
{
    (void)data;
    log_line("window %s closed", gtk_window_get_title(GTK_WINDOW(widget)));
}

static void open_second_window(void)
{
    GtkWidget *window = gtk_application_window_new(app);
    gtk_window_set_title(GTK_WINDOW(window), "Second Window");
    gtk_window_set_default_size(GTK_WINDOW(window), 320, 160);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    g_object_set(box, "margin", 12, NULL);
    GtkWidget *label = gtk_label_new("Second window: idle");
    GtkWidget *button = gtk_button_new_with_label("Ping");
    g_signal_connect(button, "clicked", G_CALLBACK(on_ping_clicked), label);
    gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    g_signal_connect(window, "destroy", G_CALLBACK(on_titled_window_destroy), NULL);
    gtk_widget_show_all(window);
    log_line("window Second Window opened");
}

/* ---- the Big window ---------------------------------------------------------------------- */

enum { BIG_SECTIONS = 16, BIG_ROWS = 16, BIG_PAIRS = 10 };

static void on_big_button_clicked(GtkButton *button, gpointer data)
{
    (void)data;
    log_line("button %s", gtk_button_get_label(button));
}

/* Window > scrolled window > viewport > box of 16 sections > 16 rows each > 10 labels and 10
 * buttons each: 5120 leaves, 5400 objects in all, at most 20 children per container. */
static void open_big_window(void)
{
    GtkWidget *window = gtk_application_window_new(app);
    gtk_window_set_title(GTK_WINDOW(window), "Big");
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
    GtkWidget *scrolled = gtk_scrolled_window_new(NULL, NULL);
    GtkWidget *outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    for (int s = 0; s < BIG_SECTIONS; s++) {
        GtkWidget *section = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
        gchar *name = g_strdup_printf("Section %d", s);
        set_accessible_name(section, name);
        g_free(name);
        for (int r = 0; r < BIG_ROWS; r++) {
            GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
            for (int c = 0; c < BIG_PAIRS; c++) {
                gchar *text = g_strdup_printf("Item %d.%d.%d", s, r, c);
                gtk_box_pack_start(GTK_BOX(row), gtk_label_new(text), FALSE, FALSE, 0);
                g_free(text);
                text = g_strdup_printf("Button %d.%d.%d", s, r, c);
                GtkWidget *button = gtk_button_new_with_label(text);
                g_free(text);
                g_signal_connect(button, "clicked", G_CALLBACK(on_big_button_clicked), NULL);
                gtk_box_pack_start(GTK_BOX(row), button, FALSE, FALSE, 0);
            }
            gtk_box_pack_start(GTK_BOX(section), row, FALSE, FALSE, 0);
        }
        gtk_box_pack_start(GTK_BOX(outer), section, FALSE, FALSE, 0);
    }
    gtk_container_add(GTK_CONTAINER(scrolled), outer); /* adds the viewport */
    gtk_container_add(GTK_CONTAINER(window), scrolled);
    g_signal_connect(window, "destroy", G_CALLBACK(on_titled_window_destroy), NULL);
    gtk_widget_show_all(window);
    log_line("window Big opened");
}

/* ---- menus ------------------------------------------------------------------------------- */

/* The item's label as shown, without the mnemonic underscore. */
static const char *item_text(GtkMenuItem *item)
{
    GtkWidget *child = gtk_bin_get_child(GTK_BIN(item));
    return GTK_IS_LABEL(child) ? gtk_label_get_text(GTK_LABEL(child)) : "?";
}

static void on_menu_logged(GtkMenuItem *item, gpointer data)
{
    (void)data;
    log_line("menu %s", item_text(item));
}

static void on_menu_new_window(GtkMenuItem *item, gpointer data)
{
    on_menu_logged(item, data);
    open_second_window();
}

static void on_menu_open_dialog(GtkMenuItem *item, gpointer data)
{
    on_menu_logged(item, data);
    open_confirm_dialog();
}

static void on_menu_quit(GtkMenuItem *item, gpointer data)
{
    on_menu_logged(item, data);
    g_application_quit(G_APPLICATION(app));
}

static void on_show_status_toggled(GtkCheckMenuItem *item, gpointer data)
{
    (void)data;
    gboolean active = gtk_check_menu_item_get_active(item);
    gtk_widget_set_visible(status_label, active);
    log_line("menu %s=%d", item_text(GTK_MENU_ITEM(item)), active ? 1 : 0);
}

static void on_radio_toggled(GtkCheckMenuItem *item, gpointer data)
{
    (void)data;
    if (gtk_check_menu_item_get_active(item))
        log_line("menu %s", item_text(GTK_MENU_ITEM(item)));
}

static GtkWidget *add_item(GtkWidget *menu, const char *mnemonic, GCallback handler,
                           GtkAccelGroup *accel, guint key, GdkModifierType mods)
{
    GtkWidget *item = gtk_menu_item_new_with_mnemonic(mnemonic);
    if (handler != NULL)
        g_signal_connect(item, "activate", handler, NULL);
    if (key != 0)
        gtk_widget_add_accelerator(item, "activate", accel, key, mods, GTK_ACCEL_VISIBLE);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return item;
}

static GtkWidget *add_menu(GtkWidget *bar, const char *mnemonic, GtkAccelGroup *accel)
{
    GtkWidget *top = gtk_menu_item_new_with_mnemonic(mnemonic);
    GtkWidget *menu = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(menu), accel);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), top);
    return menu;
}

static GtkWidget *build_menu_bar(GtkAccelGroup *accel)
{
    GtkWidget *bar = gtk_menu_bar_new();
    const GdkModifierType ctrl = GDK_CONTROL_MASK;
    const GdkModifierType ctrl_shift = GDK_CONTROL_MASK | GDK_SHIFT_MASK;
    const GdkModifierType none = 0;

    GtkWidget *file = add_menu(bar, "_File", accel);
    add_item(file, "_New", G_CALLBACK(on_menu_logged), accel, GDK_KEY_n, ctrl);
    add_item(file, "_Open…", G_CALLBACK(on_menu_logged), accel, GDK_KEY_o, ctrl);
    GtkWidget *recent_item = add_item(file, "Open _Recent", NULL, accel, 0, none);
    GtkWidget *recent = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(recent), accel);
    add_item(recent, "notes.txt", G_CALLBACK(on_menu_logged), accel, 0, none);
    add_item(recent, "todo.txt", G_CALLBACK(on_menu_logged), accel, 0, none);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(recent_item), recent);
    GtkWidget *save_as =
        add_item(file, "Save _As…", G_CALLBACK(on_menu_logged), accel, GDK_KEY_s, ctrl_shift);
    gtk_widget_set_sensitive(save_as, FALSE);
    gtk_menu_shell_append(GTK_MENU_SHELL(file), gtk_separator_menu_item_new());
    add_item(file, "New _Window", G_CALLBACK(on_menu_new_window), accel, GDK_KEY_n, ctrl_shift);
    add_item(file, "_Quit", G_CALLBACK(on_menu_quit), accel, GDK_KEY_q, ctrl);

    GtkWidget *view = add_menu(bar, "_View", accel);
    GtkWidget *show_status = gtk_check_menu_item_new_with_mnemonic("Show _Status");
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(show_status), TRUE);
    g_signal_connect(show_status, "toggled", G_CALLBACK(on_show_status_toggled), NULL);
    gtk_menu_shell_append(GTK_MENU_SHELL(view), show_status);
    gtk_menu_shell_append(GTK_MENU_SHELL(view), gtk_separator_menu_item_new());
    GtkWidget *small = gtk_radio_menu_item_new_with_mnemonic(NULL, "_Small");
    GtkWidget *large = gtk_radio_menu_item_new_with_mnemonic_from_widget(
        GTK_RADIO_MENU_ITEM(small), "_Large");
    g_signal_connect(small, "toggled", G_CALLBACK(on_radio_toggled), NULL);
    g_signal_connect(large, "toggled", G_CALLBACK(on_radio_toggled), NULL);
    gtk_menu_shell_append(GTK_MENU_SHELL(view), small);
    gtk_menu_shell_append(GTK_MENU_SHELL(view), large);
    gtk_menu_shell_append(GTK_MENU_SHELL(view), gtk_separator_menu_item_new());
    add_item(view, "_Help", G_CALLBACK(on_menu_logged), accel, GDK_KEY_F1, none);
    add_item(view, "_Refresh", G_CALLBACK(on_menu_logged), accel, GDK_KEY_F5, none);

    GtkWidget *dialog = add_menu(bar, "_Dialog", accel);
    add_item(dialog, "Open _Dialog…", G_CALLBACK(on_menu_open_dialog), accel, 0, none);
    return bar;
}

/* ---- changes the application makes on its own (--ticks) ----------------------------------- */

static void remove_item(GtkWidget *child, gpointer data)
{
    const char *name = gtk_label_get_text(GTK_LABEL(child));
    if (g_strcmp0(name, (const char *)data) == 0)
        gtk_widget_destroy(child);
}

static gboolean on_tick(gpointer data)
{
    (void)data;
    if (main_window == NULL)
        return G_SOURCE_REMOVE;
    int i = ++tick_count;
    gchar *text = g_strdup_printf("Tick %d", i);
    gtk_label_set_text(GTK_LABEL(status_label), text);
    g_free(text);
    text = g_strdup_printf("Item %d", i);
    GtkWidget *item = gtk_label_new(text);
    g_free(text);
    gtk_box_pack_start(GTK_BOX(tick_row), item, FALSE, FALSE, 0);
    gtk_widget_show(item);
    text = g_strdup_printf("Item %d", i - 2);
    gtk_container_foreach(GTK_CONTAINER(tick_row), remove_item, text);
    g_free(text);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(tick_check),
                                 !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(tick_check)));
    gtk_widget_set_sensitive(tick_button, i % 2 == 0);
    gtk_widget_set_sensitive(tick_toggles, i % 2 == 0);
    text = g_strdup_printf("tick %d", i);
    gtk_entry_set_text(GTK_ENTRY(tick_entry), text);
    g_free(text);
    log_line("tick %d", i);
    if (i < opt_ticks)
        return G_SOURCE_CONTINUE;
    log_line("ticks done");
    return G_SOURCE_REMOVE;
}

/* ---- the main window's controls ---------------------------------------------------------- */

static void on_say_hello(GtkButton *button, gpointer data)
{
    (void)data;
    log_line("button %s", gtk_button_get_label(button));
    gchar *text = g_strdup_printf("Hello pressed %d", ++hello_count);
    set_status(text);
    g_free(text);
}

static void on_clear(GtkButton *button, gpointer data)
{
    (void)data;
    log_line("button %s", gtk_button_get_label(button));
    set_status("Status: idle");
}

static void on_remove_me(GtkButton *button, gpointer data)
{
    (void)data;
    log_line("button %s", gtk_button_get_label(button));
    gtk_widget_destroy(GTK_WIDGET(button));
}

static void on_open_dialog(GtkButton *button, gpointer data)
{
    (void)data;
    log_line("button %s", gtk_button_get_label(button));
    open_confirm_dialog();
}

static void on_entry_changed(GtkEditable *editable, gpointer data)
{
    gchar *text = escape_text(gtk_entry_get_text(GTK_ENTRY(editable)));
    log_line("entry %s=%s", (const char *)data, text);
    g_free(text);
}

static void on_text_changed(GtkTextBuffer *buffer, gpointer data)
{
    (void)data;
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar *raw = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    gchar *text = escape_text(raw);
    log_line("textview=%s", text);
    g_free(text);
    g_free(raw);
}

static void on_toggled(GtkToggleButton *button, gpointer data)
{
    log_line("%s %s=%d", (const char *)data, gtk_button_get_label(GTK_BUTTON(button)),
             gtk_toggle_button_get_active(button) ? 1 : 0);
}

static void on_slider_changed(GtkRange *range, gpointer data)
{
    (void)data;
    log_line("slider Volume=%g", gtk_range_get_value(range));
}

static void on_spin_changed(GtkSpinButton *spin, gpointer data)
{
    (void)data;
    log_line("spin Count=%g", gtk_spin_button_get_value(spin));
}

static void on_main_window_destroy(GtkWidget *widget, gpointer data)
{
    (void)widget;
    (void)data;
    main_window = NULL;
}

static void build_main_window(void)
{
    main_window = gtk_application_window_new(app);
    gtk_window_set_title(GTK_WINDOW(main_window), opt_title != NULL ? opt_title : "uiglean test");
    gtk_window_set_default_size(GTK_WINDOW(main_window), 640, 480);
    g_signal_connect(main_window, "destroy", G_CALLBACK(on_main_window_destroy), NULL);

    GtkAccelGroup *accel = gtk_accel_group_new();
    gtk_window_add_accel_group(GTK_WINDOW(main_window), accel);

    GtkWidget *vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_box_pack_start(GTK_BOX(vbox), build_menu_bar(accel), FALSE, FALSE, 0);
    g_object_unref(accel);

    GtkWidget *body = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    g_object_set(body, "margin", 10, NULL);
    gtk_box_pack_start(GTK_BOX(vbox), body, TRUE, TRUE, 0);

    status_label = gtk_label_new("Status: idle");
    gtk_widget_set_halign(status_label, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(body), status_label, FALSE, FALSE, 0);

    GtkWidget *buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    struct {
        const char *label;
        GCallback handler;
    } const button_specs[] = {
        {"Say Hello", G_CALLBACK(on_say_hello)},
        {"Clear", G_CALLBACK(on_clear)},
        {"Remove Me", G_CALLBACK(on_remove_me)},
        {"Open Dialog", G_CALLBACK(on_open_dialog)},
    };
    for (size_t i = 0; i < G_N_ELEMENTS(button_specs); i++) {
        GtkWidget *button = gtk_button_new_with_label(button_specs[i].label);
        g_signal_connect(button, "clicked", button_specs[i].handler, NULL);
        if (button_specs[i].handler == G_CALLBACK(on_open_dialog))
            tick_button = button;
        gtk_box_pack_start(GTK_BOX(buttons), button, FALSE, FALSE, 0);
    }
    gtk_box_pack_start(GTK_BOX(body), buttons, FALSE, FALSE, 0);

    if (opt_ticks > 0) {
        tick_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
        gtk_box_pack_start(GTK_BOX(body), tick_row, FALSE, FALSE, 0);
    }

    GtkWidget *name = gtk_entry_new();
    tick_entry = name;
    gtk_widget_set_name(name, "Name");
    gtk_entry_set_placeholder_text(GTK_ENTRY(name), "Your name");
    set_accessible_name(name, "Name");
    g_signal_connect(name, "changed", G_CALLBACK(on_entry_changed), (gpointer) "Name");
    gtk_box_pack_start(GTK_BOX(body), name, FALSE, FALSE, 0);

    GtkWidget *password = gtk_entry_new();
    gtk_widget_set_name(password, "Password");
    gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
    gtk_entry_set_input_purpose(GTK_ENTRY(password), GTK_INPUT_PURPOSE_PASSWORD);
    gtk_entry_set_placeholder_text(GTK_ENTRY(password), "Password");
    set_accessible_name(password, "Password");
    g_signal_connect(password, "changed", G_CALLBACK(on_entry_changed), (gpointer) "Password");
    gtk_box_pack_start(GTK_BOX(body), password, FALSE, FALSE, 0);

    GtkWidget *scrolled = gtk_scrolled_window_new(NULL, NULL);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_widget_set_size_request(scrolled, -1, 80);
    GtkWidget *text_view = gtk_text_view_new();
    set_accessible_name(text_view, "Notes");
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_view));
    gtk_text_buffer_set_text(buffer, "first line", -1);
    g_signal_connect(buffer, "changed", G_CALLBACK(on_text_changed), NULL);
    gtk_container_add(GTK_CONTAINER(scrolled), text_view);
    gtk_box_pack_start(GTK_BOX(body), scrolled, TRUE, TRUE, 0);

    GtkWidget *toggles = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    tick_toggles = toggles;
    GtkWidget *check = gtk_check_button_new_with_label("Enable feature");
    tick_check = check;
    g_signal_connect(check, "toggled", G_CALLBACK(on_toggled), (gpointer) "check");
    gtk_box_pack_start(GTK_BOX(toggles), check, FALSE, FALSE, 0);
    GtkWidget *bold = gtk_toggle_button_new_with_label("Bold");
    g_signal_connect(bold, "toggled", G_CALLBACK(on_toggled), (gpointer) "toggle");
    gtk_box_pack_start(GTK_BOX(toggles), bold, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(body), toggles, FALSE, FALSE, 0);

    GtkWidget *slider = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 100, 1);
    gtk_scale_set_digits(GTK_SCALE(slider), 0);
    gtk_range_set_value(GTK_RANGE(slider), 30);
    set_accessible_name(slider, "Volume");
    g_signal_connect(slider, "value-changed", G_CALLBACK(on_slider_changed), NULL);
    gtk_box_pack_start(GTK_BOX(body), slider, FALSE, FALSE, 0);

    GtkWidget *spin = gtk_spin_button_new_with_range(0, 10, 1);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), 1);
    set_accessible_name(spin, "Count");
    g_signal_connect(spin, "value-changed", G_CALLBACK(on_spin_changed), NULL);
    gtk_box_pack_start(GTK_BOX(body), spin, FALSE, FALSE, 0);

    gtk_container_add(GTK_CONTAINER(main_window), vbox);
    gtk_widget_show_all(main_window);
    log_line("window %s opened", gtk_window_get_title(GTK_WINDOW(main_window)));
    if (opt_ticks > 0)
        g_timeout_add(250, on_tick, NULL);
}

static void on_activate(GApplication *application, gpointer data)
{
    (void)application;
    (void)data;
    if (main_window != NULL) {
        gtk_window_present(GTK_WINDOW(main_window));
        return;
    }
    build_main_window();
    if (opt_big)
        open_big_window();
}

/* Runs once the options are parsed (into the opt_ variables), before the application starts. */
static gint on_local_options(GApplication *application, GVariantDict *options, gpointer data)
{
    (void)application;
    (void)options;
    (void)data;
    if (opt_log != NULL) {
        log_file = fopen(opt_log, "a");
        if (log_file == NULL) {
            g_printerr("uiglean-gtk-app: cannot open %s: %s\n", opt_log, g_strerror(errno));
            return 1;
        }
    }
    return -1; /* go on */
}

int main(int argc, char **argv)
{
    static const GOptionEntry entries[] = {
        {"log", 0, 0, G_OPTION_ARG_FILENAME, &opt_log,
         "Append one line per change the application receives to FILE", "FILE"},
        {"title", 0, 0, G_OPTION_ARG_STRING, &opt_title, "Title of the main window", "TITLE"},
        {"big", 0, 0, G_OPTION_ARG_NONE, &opt_big,
         "Also open the window \"Big\" with more than 5000 accessible objects", NULL},
        {"ticks", 0, 0, G_OPTION_ARG_INT, &opt_ticks,
         "Change the main window N times on its own, every 250 ms", "N"},
        {NULL, 0, 0, 0, NULL, NULL, NULL},
    };
    app = gtk_application_new("org.uiglean.TestApp", G_APPLICATION_NON_UNIQUE);
    g_application_add_main_option_entries(G_APPLICATION(app), entries);
    g_signal_connect(app, "activate", G_CALLBACK(on_activate), NULL);
    g_signal_connect(app, "handle-local-options", G_CALLBACK(on_local_options), NULL);
    int status = g_application_run(G_APPLICATION(app), argc, argv);
    if (log_file != NULL)
        fclose(log_file);
    g_object_unref(app);
    g_free(opt_log);
    g_free(opt_title);
    return status;
}
