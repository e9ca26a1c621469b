function svg = plot(file, out)
%DREL.PLOT  A protocol file drawn as an SVG picture, as drel plot draws it:
%   a panel per channel, a lane for each coil's amplitude and its modulation
%   on a time axis, waveforms by their exact envelope, and what drel check
%   finds.
%   SVG = DREL.PLOT(FILE) returns the picture as text;
%   DREL.PLOT(FILE, OUT) writes it to OUT, a name that ends in .svg.
%
%   Errors: drel:read:cannotRead, drel:read:notProtocol, drel:plot:cannotWrite,
%   drel:program:notFound.
%
%   See also DREL.READ, DREL.CHECK.
args = {'plot', char(file)};
if nargin > 1
    args = [args, {'-o', char(out)}];
end
[status, svg, err] = drel.internal.run(args);
if status ~= 0
    message = strtrim(err);
    if ~isempty(strfind(message, ': cannot be written: ')) || ~isempty(strfind(message, 'writes SVG only'))
        error('drel:plot:cannotWrite', '%s', message);
    end
    drel.internal.refuse_reading(message);
end
end
