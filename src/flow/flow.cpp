#include "flow/flow.h"

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "fileio/fileio.h"
#include "flow/ui.h"

namespace beam::flow {

void Program::start_up() {
    store_.seed();
    ui::set_prompt_text(store_.read());
    ui::show_chooser();
    ui::show_prompt();
}

void Program::pressed(const skins::Skin* skin) {
    run([&] {
        if (skin != nullptr) {
            skins::select(store_, *skin);
        } else {
            store_.save(ui::get_prompt_text());
            ui::close_prompt();
        }
    });
}

void Program::closed(Window window) {
    (window == Window::prompt ? prompt_open_ : chooser_open_) = false;
    if (!prompt_open_ && !chooser_open_) {
        end();
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
        text = std::string("Error: ") + exception.what();
    } catch (...) {
        text = "Error: Unknown error";
    }
    ui::message_box(text);
    end();
}

void Program::end() {
    if (std::exchange(ended_, true)) {
        return;
    }
    store_.close();
    ui::end();
}

}  // namespace beam::flow
