#include "flow/flow.h"

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "fileio/fileio.h"

namespace beam::flow {

void Program::start_up() {
    run([&] {
        ui::make_windows();
        store_.seed();
        ui::set_prompt_text(store_.read());
        ui::show_chooser();
        ui::show_prompt();
    });
}

void Program::ok() {
    run([&] {
        store_.save(ui::get_prompt_text());
        ui::close_prompt();
    });
}

void Program::select(const skins::Skin& skin) {
    run([&] {
        const std::string game_folder = store_.read();
        fileio::replace_with_copy(game_folder + std::string(skin.source_suffix),
                                  game_folder + std::string(skins::kActivePackSuffix));
        ui::message_box(skin.confirmation);
    });
}

void Program::closed(Window window) {
    (window == Window::prompt ? prompt_open_ : chooser_open_) = false;
    if (!prompt_open_ && !chooser_open_) {
        end();
    }
}

// An exception let through would unwind into the window system's frames, so every one ends
// here. Memory running out is such a failure too (a mangled path file's first line may be
// hundreds of megabytes); by the time it is reported, unwinding has given back what the event held.
template <typename Action>
void Program::run(Action&& action) {
    try {
        std::forward<Action>(action)();
    } catch (...) {
        report_handled_exception();
    }
}

void Program::report_handled_exception() {
    std::string text;
    try {
        throw;
    } catch (const Failure& failure) {
        text = report_text(failure);
    } catch (const std::bad_alloc&) {
        text = report_text(fileio::out_of_memory_failure());
    } catch (const std::exception& exception) {
        text = std::string("Error: ") + exception.what();  // the exception's text; it has no number
    } catch (...) {
        text = "Error: Unknown error";
    }
    ui::message_box(text);
    end();
}

// Once: the file slot is closed and every window goes.
void Program::end() {
    if (std::exchange(ended_, true)) {
        return;
    }
    store_.close();
    ui::end();
}

}  // namespace beam::flow
