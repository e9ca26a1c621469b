function value = decode(text)
%DECODE  The protocol in TEXT, the JSON that drel show --json writes, as a
%   struct with the field names and nesting of that JSON, exactly: floats as
%   doubles read by the C library (NaN and the infinities too), unsigned
%   64-bit integers as uint64, levels as int16 row vectors, arrays as arrays
%   whatever their length (records as struct arrays, a float array as a row
%   vector), and the signals as a cell array of structs with one field,
%   their kind.
%
%   jsondecode alone would read the numbers as doubles (and so lose the
%   integers above 2^53), and an array of one element as the element: the
%   text goes to it with every float and every long integer in quotes, and
%   the shape of the protocol (drel show --json-schema) puts each value
%   back as it was.
value = normalise(jsondecode(quote_numbers(text)), drel.internal.shape(), 'the protocol');
end

function text = quote_numbers(text)
% Strings are skipped; floats (a point or an exponent) and integers of 16
% digits or more (beyond a double's exact ones) are quoted. Levels, the
% bulk, are short integers and stay numbers.
[starts, ends] = regexp(text, '"(?:[^"\\]|\\.)*"|-?\d+\.\d+(?:[eE][-+]?\d+)?|-?\d+[eE][-+]?\d+|-?\d{16,}');
keep = text(starts) ~= '"';
starts = starts(keep);
ends = ends(keep);
if isempty(starts)
    return;
end
pieces = cell(1, 3 * numel(starts) + 1);
at = 1;
for k = 1:numel(starts)
    pieces{3 * k - 2} = text(at:starts(k) - 1);
    pieces{3 * k - 1} = ['"' text(starts(k):ends(k))];
    pieces{3 * k} = '"';
    at = ends(k) + 1;
end
pieces{end} = text(at:end);
text = [pieces{:}];
end

function value = normalise(value, node, path)
switch node.kind
    case 'bool'
        value = logical(value);
    case 'u64'
        value = unsigned(value);
    case 'float'
        value = floating(value);
    case 'text'
        value = char(value);
    case 'levels'
        value = int16(reshape(value, 1, []));
    case 'record'
        for k = 1:numel(node.names)
            name = node.names{k};
            if isfield(value, name)
                value.(name) = normalise(value.(name), node.fields.(name), [path '.' name]);
            end
        end
    case {'array', 'fixed'}
        value = array(value, node.items, path);
    case 'signal'
        kind = fieldnames(value);
        value.(kind{1}) = normalise(value.(kind{1}), node.kinds.(kind{1}), path);
end
end

function out = array(value, items, path)
elements = elements_of(value);
switch items.kind
    case 'record'
        if isempty(elements)
            out = repmat(empty_record(items), 1, 0);
            return;
        end
        parts = cellfun(@(e) normalise(e, items, path), elements, 'UniformOutput', false);
        out = [parts{:}];
    case 'signal'
        out = cellfun(@(e) normalise(e, items, path), elements, 'UniformOutput', false);
        out = reshape(out, 1, []);
    case 'float'
        out = cellfun(@floating, elements);
        out = reshape(out, 1, []);
        if isempty(out)
            out = zeros(1, 0);
        end
    case 'bool'
        out = logical(cellfun(@(e) e, elements));
        out = reshape(out, 1, []);
    otherwise
        out = cellfun(@(e) normalise(e, items, path), elements, 'UniformOutput', false);
end
end

function elements = elements_of(value)
% What jsondecode made of a JSON array: a cell array, a struct array, a
% vector, or (for one element) the element itself; [] for none.
if iscell(value)
    elements = reshape(value, 1, []);
elseif isempty(value) && ~isstruct(value)
    elements = {};
elseif ischar(value)
    elements = {value};
else
    elements = num2cell(reshape(value, 1, []));
end
end

function r = empty_record(node)
args = cell(1, 2 * numel(node.names));
args(1:2:end) = node.names;
args(2:2:end) = {{}};
r = struct(args{:});
end

function x = floating(value)
if ischar(value)
    switch value
        case 'NaN'
            x = typecast(uint64(9221120237041090560), 'double');  % 0x7ff8000000000000
        case '-NaN'
            x = typecast(uint64(18444492273895866368), 'double');  % 0xfff8000000000000
        case 'inf'
            x = Inf;
        case '-inf'
            x = -Inf;
        otherwise
            x = sscanf(value, '%lf');
    end
else
    x = double(value);
end
end

function x = unsigned(value)
if ischar(value)
    x = uint64(0);
    for c = value
        x = x * uint64(10) + uint64(c - '0');
    end
else
    x = uint64(value);
end
end
