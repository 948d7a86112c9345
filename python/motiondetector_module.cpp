// The Python module motiondetector: the detector for numpy arrays.
//
// The C++ interface trusts its caller with raw pointers and sizes; this layer
// is where Python's arrays are checked, so that nothing a script passes can
// make the detector read outside a buffer. Frames are read in place, never
// copied, and the interpreter lock is released while a frame is processed so
// that detectors in different Python threads work side by side.
#include "config/ConfigReader.h"
#include "detector/MotionDetector.h"
#include "detector/parameters/Parameters.h"
#include "io/RegionMask.h"

#include <opencv2/imgproc.hpp>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace py = pybind11;

namespace {

// An image argument as the detector reads it: 2-D, one byte per pixel, rows
// packed one after the other. Wrong kinds of array are type errors; a strided
// view is refused rather than copied, so that a frame is never copied behind
// the caller's back.
void requireGreyImage(const py::array& image, const char* what) {
    const py::dtype type = image.dtype();
    if (type.kind() != 'u' || type.itemsize() != 1)
        throw py::type_error(std::string(what) + " must have dtype uint8, not " + type.attr("name").cast<std::string>());
    if (image.ndim() != 2)
        throw py::type_error(std::string(what) + " must be a 2-D array (rows, columns), not " +
                             std::to_string(image.ndim()) + "-D");
    if (!(image.flags() & py::array::c_style))
        throw py::value_error(std::string(what) + " must be C-contiguous; pass numpy.ascontiguousarray(" + what + ")");
}

// A numpy extent as the int the detector takes. Extents beyond int are
// clamped to a size the detector refuses instead of wrapping to one it takes.
int extent(py::ssize_t n) {
    return static_cast<int>(std::min<py::ssize_t>(n, INT_MAX));
}

// A checked image's pixels and shape, readable without the interpreter lock.
struct Image {
    const uint8_t* pixels;
    py::ssize_t rows;
    py::ssize_t columns;
};

class PyMotionDetector {
public:
    bool setParam(MotionDetectorParam param, double value) {
        const auto lock = lockDetector();
        return detector.setParam(param, value);
    }

    double getParam(MotionDetectorParam param) {
        const auto lock = lockDetector();
        return detector.getParam(param);
    }

    bool processFrame(const py::array& frame, const py::object& regionMask) {
        requireGreyImage(frame, "frame");
        const Image pixels{static_cast<const uint8_t*>(frame.data()), frame.shape(0), frame.shape(1)};
        Image region{};
        py::array regionArray; // keeps a converted region mask alive
        if (!regionMask.is_none()) {
            regionArray = py::array::ensure(regionMask);
            if (!regionArray) throw py::type_error("region_mask must be a numpy array or None");
            requireGreyImage(regionArray, "region_mask");
            region = {static_cast<const uint8_t*>(regionArray.data()), regionArray.shape(0), regionArray.shape(1)};
        }
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(mutex);
        return processLocked(pixels, region);
    }

    // None until a frame has been accepted: there is no frame size to give
    // the mask before that.
    py::object motionMask() {
        const auto lock = lockDetector();
        if (maskWidth == 0) return py::none();
        py::array_t<uint8_t> mask({maskHeight, maskWidth});
        detector.getMotionMask(mask.mutable_data());
        return std::move(mask);
    }

    std::vector<DetectedObject> objects() {
        const auto lock = lockDetector();
        return detector.getObjects();
    }

    py::array_t<DetectedObject> objectsArray() {
        const std::vector<DetectedObject> found = objects();
        py::array_t<DetectedObject> table(static_cast<py::ssize_t>(found.size()));
        std::copy(found.begin(), found.end(), table.mutable_data());
        return table;
    }

    void reset() {
        const auto lock = lockDetector();
        detector.reset();
    }

    bool readConfiguration(const std::string& path, ConfigTexts& texts) {
        const auto lock = lockDetector();
        return ::readConfiguration(path, detector, texts);
    }

private:
    // Waits for the detector without holding the interpreter lock, so that a
    // thread waiting for a detector busy with a frame does not stop the rest
    // of the program. The lock keeps calls from several threads on one
    // detector from running into each other.
    std::unique_lock<std::mutex> lockDetector() {
        py::gil_scoped_release released;
        return std::unique_lock<std::mutex>(mutex);
    }

    // The region mask has one byte per scaled pixel. Checked under the
    // detector's lock, so that no other thread changes the scale factor
    // between the check and the frame.
    void requireScaledGrid(const Image& frame, const Image& region) const {
        const auto scaleFactor = static_cast<py::ssize_t>(detector.getParam(SCALE_FACTOR));
        const py::ssize_t rows = frame.rows / scaleFactor;
        const py::ssize_t columns = frame.columns / scaleFactor;
        if (region.rows == rows && region.columns == columns) return;
        throw py::value_error("region_mask must have the shape (height // scale, width // scale) = (" +
                              std::to_string(rows) + ", " + std::to_string(columns) + "), not (" +
                              std::to_string(region.rows) + ", " + std::to_string(region.columns) + ")");
    }

    bool processLocked(const Image& frame, const Image& region) {
        if (region.pixels != nullptr) requireScaledGrid(frame, region);
        const int width = extent(frame.columns);
        const int height = extent(frame.rows);
        try {
            if (!detector.processFrame(frame.pixels, width, height, region.pixels)) return false;
        } catch (...) {
            // The detector dropped its frame size; so does the mask.
            maskWidth = maskHeight = 0;
            throw;
        }
        maskWidth = width;
        maskHeight = height;
        return true;
    }

    MotionDetector detector;
    std::mutex mutex;
    py::ssize_t maskWidth = 0; // size of the last accepted frame; 0 before the first
    py::ssize_t maskHeight = 0;
};

// The enum Param from the parameter table: each identifier is named after
// its configuration key in capitals (scale_factor: Param.SCALE_FACTOR).
void bindParam(py::module_& m) {
    py::enum_<MotionDetectorParam> param(m, "Param", "Parameter identifiers for MotionDetector.set_param.");
    for (const motion::Parameter& parameter : motion::parameterTable) {
        std::string name = parameter.key;
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
        param.value(name.c_str(), parameter.id, parameter.meaning);
    }
}

std::string describe(const DetectedObject& o) {
    return "DetectedObject(objectId=" + std::to_string(o.objectId) + ", x0=" + std::to_string(o.x0) +
           ", y0=" + std::to_string(o.y0) + ", x1=" + std::to_string(o.x1) + ", y1=" + std::to_string(o.y1) +
           ", pixelCount=" + std::to_string(o.pixelCount) + ")";
}

void bindDetectedObject(py::module_& m) {
    PYBIND11_NUMPY_DTYPE(DetectedObject, x0, y0, x1, y1, pixelCount, intensitySum, label, centroidX, centroidY,
                         reserved, objectId, velocityX, velocityY);
    py::class_<DetectedObject>(m, "DetectedObject",
                               "One reported object in frame pixels; box edges x0..x1, y0..y1 inclusive.")
        .def_readonly("x0", &DetectedObject::x0)
        .def_readonly("y0", &DetectedObject::y0)
        .def_readonly("x1", &DetectedObject::x1)
        .def_readonly("y1", &DetectedObject::y1)
        .def_readonly("pixelCount", &DetectedObject::pixelCount)
        .def_readonly("intensitySum", &DetectedObject::intensitySum)
        .def_readonly("label", &DetectedObject::label)
        .def_readonly("centroidX", &DetectedObject::centroidX)
        .def_readonly("centroidY", &DetectedObject::centroidY)
        .def_readonly("reserved", &DetectedObject::reserved)
        .def_readonly("objectId", &DetectedObject::objectId)
        .def_readonly("velocityX", &DetectedObject::velocityX)
        .def_readonly("velocityY", &DetectedObject::velocityY)
        .def("__repr__", &describe);
    m.attr("OBJECT_DTYPE") = py::dtype::of<DetectedObject>();
}

void bindDetector(py::module_& m) {
    py::class_<PyMotionDetector>(m, "MotionDetector",
                                 "Background model, motion mask and object tracking on grey frames.")
        .def(py::init<>())
        .def("set_param", &PyMotionDetector::setParam, py::arg("param"), py::arg("value"),
             "Stores a parameter; False (nothing changed) for a value outside its range.")
        .def("get_param", &PyMotionDetector::getParam, py::arg("param"), "The value in force for a parameter.")
        .def("process_frame", &PyMotionDetector::processFrame, py::arg("frame"), py::arg("region_mask") = py::none(),
             "Feeds one grey frame (2-D C-contiguous uint8 array, read in place). region_mask, when given, has "
             "one uint8 per scaled pixel, shape (height // scale, width // scale); 0 excludes the pixel. "
             "False, changing nothing, for a frame size the detector refuses.")
        .def("motion_mask", &PyMotionDetector::motionMask,
             "The motion mask of the last accepted frame (uint8, frame size, 255 motion, 0 background); "
             "None before the first accepted frame.")
        .def("objects", &PyMotionDetector::objects,
             "The objects of this frame as a list of DetectedObject. Hands out identifiers to new objects.")
        .def("objects_array", &PyMotionDetector::objectsArray,
             "The objects of this frame as a numpy structured array of dtype OBJECT_DTYPE (same fields as "
             "DetectedObject). Hands out identifiers like objects().")
        .def("reset", &PyMotionDetector::reset,
             "Forgets the background and all objects; identifiers start at 1 again.");
}

// A detector set up by a configuration file, with the file's texts; the
// demo's failure, as a ValueError, for a file the demo would not start with.
std::pair<std::unique_ptr<PyMotionDetector>, ConfigTexts> loadConfig(const std::filesystem::path& path) {
    auto detector = std::make_unique<PyMotionDetector>();
    ConfigTexts texts;
    if (!detector->readConfiguration(path.string(), texts)) throw py::value_error("Configuration params not read");
    return {std::move(detector), texts};
}

void bindConfiguration(py::module_& m) {
    py::class_<ConfigTexts>(m, "ConfigTexts", "The texts of a configuration file, which are for the program.")
        .def_readonly("video_source", &ConfigTexts::videoSourceInitString,
                      "The video source (video_source_init_string): a file, a camera number or a stream URL.")
        .def_readonly("region_mask_file", &ConfigTexts::regionMaskFile,
                      "The mask picture (region_mask_file); \"\" when absent: the whole frame is watched.")
        .def("__repr__", [](const ConfigTexts& t) {
            return "ConfigTexts(video_source=" + py::repr(py::str(t.videoSourceInitString)).cast<std::string>() +
                   ", region_mask_file=" + py::repr(py::str(t.regionMaskFile)).cast<std::string>() + ")";
        });
    m.def("load_config", &loadConfig, py::arg("path"),
          "Reads a configuration file as the demo does and returns (detector, texts): a MotionDetector with the "
          "file's numeric settings and a ConfigTexts. ValueError 'Configuration params not read' when the demo "
          "would refuse the file.");
}

// A mask given as an array, as the detector's rule reads it: grey as it
// is, BGR converted to grey as a colour mask file is. The array is copied
// only when it is strided.
cv::Mat greyOfArray(const py::array& source) {
    const py::array image = py::array::ensure(source, py::array::c_style);
    const py::dtype type = image.dtype();
    if (type.kind() != 'u' || type.itemsize() != 1)
        throw py::type_error("a region mask array must have dtype uint8, not " + type.attr("name").cast<std::string>());
    const bool bgr = image.ndim() == 3 && image.shape(2) == 3;
    if (image.ndim() != 2 && !bgr)
        throw py::type_error("a region mask array must be grey (rows, columns) or BGR (rows, columns, 3)");
    if (image.size() == 0) throw py::value_error("a region mask array must not be empty");
    const cv::Mat pixels(extent(image.shape(0)), extent(image.shape(1)), bgr ? CV_8UC3 : CV_8UC1,
                         const_cast<void*>(image.data()));
    cv::Mat grey;
    if (bgr)
        cv::cvtColor(pixels, grey, cv::COLOR_BGR2GRAY);
    else
        grey = pixels.clone(); // outlives the array
    return grey;
}

cv::Mat greyOfFile(const py::object& source) {
    std::filesystem::path path;
    try {
        path = source.cast<std::filesystem::path>();
    } catch (const py::cast_error&) {
        throw py::type_error("path_or_array must be a path or a numpy array");
    }
    cv::Mat grey = readRegionMaskImage(path.string());
    if (grey.empty()) throw py::value_error("cannot read the region mask " + path.string());
    return grey;
}

// The array process_frame takes as its region mask, made by the rule every
// program applies to a mask picture (io/RegionMask.h).
py::array_t<uint8_t> regionMask(const py::object& source, int frameWidth, int frameHeight, int scaleFactor) {
    if (frameWidth < 1 || frameHeight < 1) throw py::value_error("frame_width and frame_height must be positive");
    const motion::Parameter& scale = *motion::findParameter(SCALE_FACTOR);
    if (!scale.accepts(scaleFactor))
        throw py::value_error("scale_factor must lie in " + std::to_string(int(scale.low)) + ".." +
                              std::to_string(int(scale.high)));
    const cv::Mat grey = py::isinstance<py::array>(source) ? greyOfArray(source) : greyOfFile(source);
    const std::vector<uint8_t> grid =
        reduceRegionMask(binariseRegionMask(grey, cv::Size(frameWidth, frameHeight)), scaleFactor);
    py::array_t<uint8_t> mask({frameHeight / scaleFactor, frameWidth / scaleFactor});
    std::copy(grid.begin(), grid.end(), mask.mutable_data());
    return mask;
}

void bindRegionMask(py::module_& m) {
    m.def("region_mask", &regionMask, py::arg("path_or_array"), py::arg("frame_width"), py::arg("frame_height"),
          py::arg("scale_factor"),
          "The region mask for process_frame from a mask picture (a path) or image (a uint8 numpy array, grey or "
          "BGR), by the programs' rule: light (grey >= 128) is watched, dark excluded, the picture resized to the "
          "frame and reduced to the scaled grid. uint8 array of shape (frame_height // scale_factor, "
          "frame_width // scale_factor), 1 watched, 0 excluded. ValueError for a file that is not a picture.");
}

} // namespace

PYBIND11_MODULE(motiondetector, m) {
    m.doc() = "Motion detection on grey video frames held in numpy arrays.\n\n"
              "MotionDetector() makes a detector with the default settings; load_config(path) makes one from a "
              "configuration file, as the demo reads it, and returns it with the file's texts (video_source, "
              "region_mask_file). region_mask(path_or_array, frame_width, frame_height, scale_factor) turns a "
              "mask picture into the region mask process_frame takes.";
    bindParam(m);
    bindDetectedObject(m);
    bindDetector(m);
    bindConfiguration(m);
    bindRegionMask(m);
}
