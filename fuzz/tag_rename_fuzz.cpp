// A preset file name of any bytes re-tagged and its favourite toggled. The first two bytes choose
// two categories (0 and 18 are none), the rest is the stem. A rename gives exactly the tags asked
// for, keeps the favourite mark and a factory preset's number prefix, and does not drift: the
// user's words stay as they are through any number of renames, so re-tagging a re-tagged name is
// re-tagging the name, and the favourite toggles back to the name it was.
#include "CategoryBrowser/PresetLibrary.h"
#include "FuzzSupport.h"

#include <string>
#include <string_view>

using fuzz_support::check;
using namespace prescat;

namespace {

std::string_view stemOf(std::string_view fileName) { return fileName.substr(0, fileName.size() - kExtension.size()); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int first = data[0] % (kCategories + 1), second = data[1] % (kCategories + 1);
    const std::string name = std::string(reinterpret_cast<const char*>(data + 2), size - 2) + std::string(kExtension);
    const std::string once = retaggedName(name, first);
    check(isPresetFileName(once) && once.size() > kExtension.size(), "a file name with a stem");
    for (int k = 1; k < kCategories; ++k)
        check(hasCategoryTag(stemOf(once), k) == (k == first), "exactly the category asked for");
    check(hasFavouriteTag(stemOf(once)) == hasFavouriteTag(stemOf(name)), "the favourite mark kept");
    check(!hasNumberPrefix(stemOf(name)) || hasNumberPrefix(stemOf(once)), "a factory preset stays one");
    check(retaggedName(once, first) == once, "a name re-tagged as it is stays");

    // Words that end in "#" and three digits become a number prefix with the space of any tag put
    // after them, and keep that space when the tag comes off again, as a factory preset's must:
    // such a name gains a space once. Every other name never drifts.
    const std::string spaced = std::string(stemOf(retaggedName(name, 0))) + " ";
    const bool endsInNumber = spaced.size() >= 5 && findNumberPrefix(spaced, spaced.size() - 5) == spaced.size() - 5;
    check(endsInNumber || retaggedName(once, second) == retaggedName(name, second), "renames do not drift");

    const std::string toggled = favouriteToggledName(once);
    check(hasFavouriteTag(stemOf(toggled)) != hasFavouriteTag(stemOf(once)), "the favourite toggles");
    check(!hasNumberPrefix(stemOf(once)) || hasNumberPrefix(stemOf(toggled)), "a factory preset stays one when toggled");
    check(endsInNumber || favouriteToggledName(toggled) == once, "toggled twice, the name it was");
    return 0;
}
