#pragma once
// The phone's weather programs as far as the lock screen meets them: what each leaves behind
// after fetching today's forecast (registry values, a forecast text file, SQLite databases, or
// the UserWeather text another program writes). `lumo-devctl weather SOURCE ...` writes a
// forecast in the chosen program's own format; `weather clear` removes them all.
#include <filesystem>
#include <string>

#include "host.h"

namespace lumo::host {

class ProcessService;

struct Forecast {
    int source = 0;  // 1 Spb Weather, 2 Weather Panel, 3 Pocket Weather, 4 HTC Home, 5 UserWeather,
                     // 6 HTC Manila 2D, 7 HTC Manila (databases)
    int icon = 0;    // the program's own condition code
    int high = 0, low = 0;
    bool fahrenheit = false;  // the unit of high and low
    std::u16string city = u"Lumo City";
};

class WeatherPrograms {
  public:
    WeatherPrograms(Host& host, ProcessService& processes);
    // Writes today's forecast (and the days around it, as the programs keep them); false with
    // the reason when a file could not be written.
    bool write(const Forecast& f, std::string* why);
    void clear();

  private:
    void register_handlers();
    std::filesystem::path file(std::u16string_view device_path) const;

    Host& host_;
    ProcessService& processes_;
    std::filesystem::path fs_root_;
};

}  // namespace lumo::host
