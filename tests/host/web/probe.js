// What the browser tests read from a page: the pictures of the control's
// objects as the page shows them.
function pictureOf(id) {
    return document.getElementById(id).getElementsByTagName("canvas")[0];
}

// What the picture shows: the video under the control's drawing.
function seenOf(id) {
    return Tiravex.picture(pictureOf(id));
}

// Every 4th pixel of every 4th row of a picture, 0xRRGGBB.
function samples(id) {
    var c = seenOf(id);
    var data = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
    var out = [];
    for (var y = 2; y < c.height - 2; y += 4)
        for (var x = 2; x < c.width - 2; x += 4) {
            var i = (y * c.width + x) * 4;
            out.push((data[i] << 16) | (data[i + 1] << 8) | data[i + 2]);
        }
    return out;
}

// How many samples are not dark.
function brightSamples(id) {
    return samples(id).filter(function (p) { return ((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255) > 96; }).length;
}

// How many samples differ from `before` by more than JPEG noise.
function changedSamples(id, before) {
    var now = samples(id);
    var changed = 0;
    for (var i = 0; i < now.length; ++i) {
        var a = now[i], b = before[i];
        var d = Math.abs(((a >> 16) & 255) - ((b >> 16) & 255)) + Math.abs(((a >> 8) & 255) - ((b >> 8) & 255)) + Math.abs((a & 255) - (b & 255));
        if (d > 48) ++changed;
    }
    return changed;
}

// Light-dark changes along row y from x0 to x1 (the camera's frame counter
// is a row of white boxes at the picture's top left).
function crossings(id, y, x0, x1) {
    var c = seenOf(id);
    var data = c.getContext("2d").getImageData(x0, y, x1 - x0, 1).data;
    var n = 0, light = null;
    for (var i = 0; i < data.length; i += 4) {
        var l = (data[i] + data[i + 1] + data[i + 2]) / 3 > 128;
        if (light !== null && l !== light) ++n;
        light = l;
    }
    return n;
}

// Light-dark changes along the middle row of the camera's frame counter
// (3 x 5 digits 16 pixels apart at the top left of its 640 x 480 picture),
// at the size the view shows it: about four for each of its first digits,
// whatever the page's size.
function counterCrossings(id) {
    var k = pictureOf(id).height / 480;
    return crossings(id, Math.round(13 * k), Math.round(4 * k), Math.round(66 * k));
}

// Where a picture is on the screen (for the browser's real mouse).
function centreOf(id) {
    var r = pictureOf(id).getBoundingClientRect();
    return [r.left + r.width / 2, r.top + r.height / 2];
}
